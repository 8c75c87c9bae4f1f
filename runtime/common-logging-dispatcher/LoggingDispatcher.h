#pragma once

/* The call protocol between a logging client (a library that hands out loggers) and the
   logging dispatcher library, which writes the messages. Plain C, so that clients and
   dispatchers built by different compilers can meet.

   The dispatcher exports one data symbol, LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL: a table of
   two functions. A client calls attach() once, which gives the dispatcher two callbacks
   and fills in the dispatcher's two entry points, and detach() once when it goes away.
   The dispatcher calls the callbacks only between the two.

   Levels: a message goes out when its level is at least the level of its logger.
     0 trace, 1 debug, 2 info, 3 notice, 4 warning, 5 error, 6 critical, 7 fatal.
   A logger of level 8 or more is silent. */

#ifdef __cplusplus
#include <cstdint>
extern "C" {
#else
#include <stdint.h>
#endif

#define LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL "logging_dispatcher_descriptor"

/* Dispatcher entry points. registerLogger always writes an id and a level; equal ids mean
   one logger. The last two arguments of logMessage are passed through unchanged. */
typedef void (*LoggingRegisterLoggerFunction)(const char* name, uint64_t* id, uint32_t* level);
typedef void (*LoggingLogMessageFunction)(uint64_t id, uint32_t level, const char* message, uint32_t value,
                                          uintptr_t pointerValue);

/* Client callbacks, called on any thread. */
typedef void (*LoggingDisconnectFunction)(void);
typedef void (*LoggingSetLevelFunction)(uint64_t id, uint32_t level);

typedef struct LoggingDispatcherDescriptor LoggingDispatcherDescriptor;
struct LoggingDispatcherDescriptor
{
    void (*attach)(void* client, LoggingDisconnectFunction disconnect, LoggingSetLevelFunction setLevel,
                   LoggingRegisterLoggerFunction* outRegister, LoggingLogMessageFunction* outLog);
    void (*detach)(void* client, const LoggingDispatcherDescriptor* self);
};

#ifdef __cplusplus
}
#endif

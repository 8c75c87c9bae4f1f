// A library in the dispatcher's place that lacks the descriptor export: it loads, but
// the logging singleton must not attach to it.

extern "C" __attribute__((visibility("default"))) int logging_dispatcher_version()
{
    return 1;
}

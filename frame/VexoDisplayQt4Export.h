#pragma once

// The display library is built with hidden visibility; only what carries this macro is
// part of its binary interface.
#if defined(VEXO_DISPLAY_QT4_BUILDING)
#define VEXO_DISPLAY_QT4_EXPORT __attribute__((visibility("default")))
#else
#define VEXO_DISPLAY_QT4_EXPORT
#endif

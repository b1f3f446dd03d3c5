// The name of the current source file without its folders, as the log lines carry it.
#pragma once

#if defined(__FILE_NAME__)
#define SOURCE_FILE_NAME __FILE_NAME__
#else
#define SOURCE_FILE_NAME __FILE__
#endif

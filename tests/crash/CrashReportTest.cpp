// The crash text report's sections and the crash's file names from synthetic inputs.
#include <gtest/gtest.h>

#include "crash/CrashReporter.h"
#include "crash/CrashTextReport.h"
#include "sysinfo/ProcessorInfo.h"

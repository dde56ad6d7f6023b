/* Tessaro Virtualization SDK - sample header. */
#ifndef TESSARO_SDK_H
#define TESSARO_SDK_H

#include "version.h"

int tessaro_sdk_version_major(void);

#endif

/* Tessaro Virtualization SDK - sample version header. */
#ifndef TESSARO_SDK_VERSION_H
#define TESSARO_SDK_VERSION_H
#define TESSARO_SDK_VERSION "3.1"
#endif

// How the exports are declared and called: the platform's half of the
// host calling interface (host/host_interface.h holds the rest). 32-bit
// Windows hosts call library entry points with the standard calling
// convention (the callee pops its arguments); elsewhere the platform's one
// convention applies. On Windows the module-definition file names the
// exports; on ELF only symbols marked with default visibility leave the
// shared library.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define LASTSPOT_CALL __stdcall
#else
#define LASTSPOT_CALL
#endif
#ifdef _WIN32
#define LASTSPOT_EXPORT
#else
#define LASTSPOT_EXPORT __attribute__((visibility("default")))
#endif

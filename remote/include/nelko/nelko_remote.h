/* The server side of NelkoClientDriver for C and other languages: request texts to the
 * add-in in the user's Remote Desktop client, its response texts back. */
#ifndef NELKO_REMOTE_H
#define NELKO_REMOTE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(NELKO_REMOTE_BUILDING)
#define NELKO_REMOTE_API __declspec(dllexport)
#elif defined(_WIN32)
#define NELKO_REMOTE_API __declspec(dllimport)
#else
#define NELKO_REMOTE_API __attribute__((visibility("default")))
#endif

/* Results of nelko_remote_execute; the first seven match the C++ library's Failure. */
enum {
    NELKO_REMOTE_OK = 0,
    NELKO_REMOTE_UNAVAILABLE = 1,      /* no Remote Desktop services to ask */
    NELKO_REMOTE_NO_CHANNEL = 2,       /* the session has no such channel */
    NELKO_REMOTE_TIMED_OUT = 3,        /* nothing answered */
    NELKO_REMOTE_SESSION_GONE = 4,     /* the channel broke for good */
    NELKO_REMOTE_REQUEST_TOO_LONG = 5, /* over 16,384 bytes */
    NELKO_REMOTE_BUFFER_TOO_SMALL = 8, /* *length tells the size needed, without the NUL */
    NELKO_REMOTE_INVALID_ARGUMENT = 9
};

typedef struct nelko_remote nelko_remote;

/* Channel names may be NULL (NlkCmd1, NlkDta1); timeout_ms 0 means 10,000. Channels are
 * opened at the first request. NULL only when out of memory. */
NELKO_REMOTE_API nelko_remote* nelko_remote_open(const char* command_channel, const char* data_channel,
                                                 unsigned timeout_ms);

/* Runs one request ("Measure|") and puts the response text ("OK|true") with a NUL into
 * response[0..size). BUFFER_TOO_SMALL comes after the request has run (a measurement was
 * made): give 1,601 bytes, which hold any response of the add-in. */
NELKO_REMOTE_API int nelko_remote_execute(nelko_remote* remote, const char* request, char* response, size_t size,
                                          size_t* length);

/* Why the last call failed, in words; empty after success. Valid until the next call. */
NELKO_REMOTE_API const char* nelko_remote_last_error(const nelko_remote* remote);

NELKO_REMOTE_API void nelko_remote_close(nelko_remote* remote);

#ifdef __cplusplus
}
#endif

#endif

/*
 * PellaxLib: message exchange between one server and its clients.
 *
 * A process may run the server side (one listening session, up to 1024 clients with ids 0..1023),
 * the client side (up to 1024 client sessions with handles 0..1023), or both. Every exchange is a
 * frame: command, sequence, flag, optional typed extension headers and a body. Even commands are
 * requests, odd commands are responses; a synchronous send blocks until the response with the same
 * sequence number arrives or its time-out runs out.
 *
 * Result codes of the functions below (unless a function says otherwise):
 *    0  success (PELLAX_CLIENT_CreateSession returns the new handle, 0 or more)
 *   -1  not possible in the present state, or failed inside (no server session, server exists already,
 *       unknown id for PELLAX_SERVER_DestroyClientSession, client session could not be opened)
 *   -2  the frame could not be delivered (transport refused it; on the client also no answer in time)
 *   -3  a resource ran out (allocation failed, or all 1024 client session slots are taken)
 *   -4  invalid argument, unknown id or handle, options that are not JSON
 *   -5  server synchronous send: no response within the time-out
 * The cipher functions add their own codes, listed with them.
 *
 * Server notifications (PELLAX_SERVER_SetNotifyCallBack; first argument is the client id):
 *   0  data frame from the client (record filled; valid only during the callback)
 *   1  a client connected and got its id (no record)
 *   4  a client connection ended, or a silent client was dropped (no record)
 *   5  the client registered; record data is the request's "params" as compact JSON
 *   6  the client sent a keepalive; record data is the request's "params" as compact JSON
 * Client notifications (PELLAX_CLIENT_SetNotifyCallBack; first argument is the session handle):
 *   0  data frame from the server       1  connected              2  connecting failed
 *   3  the connection ended              4  the server fell silent
 *   5  the server answered Register; record data is the answer's "data" as compact JSON
 *   6  the server answered Keepalive; record data is the answer's "data" as compact JSON
 * Callbacks run on library threads, possibly concurrently.
 */
#ifndef PELLAX_H
#define PELLAX_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
/* The library defines PELLAX_BUILDING_DLL while it builds itself; its hosts import. */
#if defined(PELLAX_BUILDING_DLL)
#define PELLAX_API __declspec(dllexport)
#else
#define PELLAX_API __declspec(dllimport)
#endif
#else
#define PELLAX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of the functions (see above). */
#define PELLAX_OK                     0
#define PELLAX_E_STATE              (-1) /* not possible in the present state, or failed inside */
#define PELLAX_E_NOT_DELIVERED      (-2) /* not delivered; client synchronous send: also no answer in time */
#define PELLAX_E_NO_RESOURCE        (-3) /* memory, or all 1024 client session slots taken */
#define PELLAX_E_INVALID            (-4) /* invalid argument, unknown id or handle, options not JSON */
#define PELLAX_E_TIMEOUT            (-5) /* server synchronous send: no answer in time */

/* Result codes of PELLAX_CLIENT_Encrypt and PELLAX_CLIENT_Decrypt. */
#define PELLAX_CIPHER_E_NOT_BASE64  (-3)
#define PELLAX_CIPHER_E_INVALID     (-4) /* bad argument, or a key shorter than 16 bytes */
#define PELLAX_CIPHER_E_NO_MEMORY   (-5)
#define PELLAX_CIPHER_E_TOO_SMALL   (-8) /* the output buffer is too small */
#define PELLAX_CIPHER_E_INIT        (-9) /* a step of the AES cipher failed: */
#define PELLAX_CIPHER_E_PADDING    (-10)
#define PELLAX_CIPHER_E_UPDATE     (-11)
#define PELLAX_CIPHER_E_FINAL      (-12) /* also a wrong key or damaged text when decrypting */

/* Server notification types. */
#define PELLAX_SERVER_NOTIFY_DATA       0
#define PELLAX_SERVER_NOTIFY_JOINED     1
#define PELLAX_SERVER_NOTIFY_LEFT       4
#define PELLAX_SERVER_NOTIFY_REGISTERED 5
#define PELLAX_SERVER_NOTIFY_KEEPALIVE  6

/* Client notification events. */
#define PELLAX_CLIENT_EVENT_DATA            0
#define PELLAX_CLIENT_EVENT_CONNECTED       1
#define PELLAX_CLIENT_EVENT_CONNECT_FAILED  2
#define PELLAX_CLIENT_EVENT_DISCONNECTED    3
#define PELLAX_CLIENT_EVENT_SERVER_SILENT   4
#define PELLAX_CLIENT_EVENT_REGISTERED      5
#define PELLAX_CLIENT_EVENT_KEEPALIVE       6

/* One typed extension header of a frame. */
typedef struct PELLAX_MessageExt {
    uint32_t type;                       /* chosen by the host */
    uint32_t length;                     /* number of bytes at data */
    unsigned char* data;
    struct PELLAX_MessageExt* next;      /* next node or NULL */
} PELLAX_MessageExt;

/* Allocates the data of a synchronous response; receives the data length. */
typedef void* (*PELLAX_Allocator)(uint64_t size);

typedef struct PELLAX_Message {          /* 320 bytes on x86-64 */
    uint32_t command;                    /* even: request, odd: response */
    unsigned char* data;                 /* body bytes */
    int32_t dataLength;                  /* number of body bytes */
    PELLAX_MessageExt* ext;              /* extension headers, or NULL */
    uint32_t sequence;                   /* echo a request's sequence in its response */
    uint64_t timestamp;                  /* sender's millisecond tick (received frames only) */
    PELLAX_Allocator allocator;          /* response records: allocates the data, else library memory */
    int32_t flag;                        /* low 8 bits travel with the frame */
    unsigned char reserved[260];
} PELLAX_Message;

/* The layout the library is built with: a host compiled with other packing fails here, at compile time,
 * rather than handing the library records it reads wrongly. */
#if defined(__x86_64__) || defined(_M_X64)
#define PELLAX_LAYOUT_CHECK(name, holds) typedef char pellax_layout_check_##name[(holds) ? 1 : -1]
PELLAX_LAYOUT_CHECK(message_size, sizeof(PELLAX_Message) == 320);
PELLAX_LAYOUT_CHECK(data, offsetof(PELLAX_Message, data) == 8);
PELLAX_LAYOUT_CHECK(data_length, offsetof(PELLAX_Message, dataLength) == 16);
PELLAX_LAYOUT_CHECK(ext, offsetof(PELLAX_Message, ext) == 24);
PELLAX_LAYOUT_CHECK(sequence, offsetof(PELLAX_Message, sequence) == 32);
PELLAX_LAYOUT_CHECK(timestamp, offsetof(PELLAX_Message, timestamp) == 40);
PELLAX_LAYOUT_CHECK(allocator, offsetof(PELLAX_Message, allocator) == 48);
PELLAX_LAYOUT_CHECK(flag, offsetof(PELLAX_Message, flag) == 56);
PELLAX_LAYOUT_CHECK(reserved, offsetof(PELLAX_Message, reserved) == 60);
PELLAX_LAYOUT_CHECK(ext_size, sizeof(PELLAX_MessageExt) == 24);
PELLAX_LAYOUT_CHECK(ext_next, offsetof(PELLAX_MessageExt, next) == 16);
#undef PELLAX_LAYOUT_CHECK
#endif

/* Receives every log line as (level, "PELLAX", "%s", line); levels 3 progress, 4 rejected, 5 failure. */
typedef int (*PELLAX_LogCallBack)(int level, const char* module, const char* format, ...);
/* Receives notifications: (client id or session handle, type, record or NULL, user pointer). */
typedef int (*PELLAX_NotifyCallBack)(unsigned int id, unsigned int type, PELLAX_Message* message, void* user);

/* Starts the library; a NULL callback sends log lines to standard output. Always 0. */
PELLAX_API int PELLAX_Init(PELLAX_LogCallBack callback);
/* Stops the library: closes every session, no callback runs after it returns. Always 0. */
PELLAX_API int PELLAX_Uninit(void);
/* A fresh sequence number for host requests, 0..0x7FFFFFFF. */
PELLAX_API int PELLAX_GenerateSequence(void);
/* Frees memory the library allocated for the host (response data, extension nodes); NULL is ignored. */
PELLAX_API void PELLAX_FreeBuffer(void* buffer);

/* Sets the server notification callback and its user pointer (either may be NULL). */
PELLAX_API int PELLAX_SERVER_SetNotifyCallBack(PELLAX_NotifyCallBack callback, void* user);
/* Listens on an IPv4 address and port; options JSON: "keepalive-interval", "keepalive-timeout" (s). */
PELLAX_API int PELLAX_SERVER_CreateSession(const char* address, int port, const char* options);
/* Closes the server session; no server notification runs after it returns (from a host thread). */
PELLAX_API int PELLAX_SERVER_DestroySession(void);
/* Disconnects one client; no notification follows for it. */
PELLAX_API int PELLAX_SERVER_DestroyClientSession(unsigned int id);
/* Sends a message to a client asynchronously. */
PELLAX_API int PELLAX_SERVER_Send(unsigned int id, PELLAX_Message* message);
/* Sends a request and waits for the client's response (odd command, same sequence), -5 on time-out. */
PELLAX_API int PELLAX_SERVER_SynSend(unsigned int id, PELLAX_Message* request, PELLAX_Message* response,
                                     unsigned int timeoutSeconds);
/* Sets JSON user data (type 0: Register answer, 1: Keepalive answer) for one client; NULL clears. */
PELLAX_API int PELLAX_SERVER_SetUserData(unsigned int id, unsigned int type, const char* data);

/* Sets the client notification callback and its user pointer (either may be NULL). */
PELLAX_API int PELLAX_CLIENT_SetNotifyCallBack(PELLAX_NotifyCallBack callback, void* user);
/* Opens a client session to a server; options JSON: "connect-timeout" (s). Returns the handle. */
PELLAX_API int PELLAX_CLIENT_CreateSession(const char* address, int port, const char* options);
/* Closes a client session; no notification for the handle runs after it returns (from a host thread). */
PELLAX_API int PELLAX_CLIENT_DestroySession(unsigned int handle);
/* Sends a message to the server asynchronously. */
PELLAX_API int PELLAX_CLIENT_Send(unsigned int handle, PELLAX_Message* message);
/* Sends a request and waits for the server's response (odd command, same sequence), -2 on time-out. */
PELLAX_API int PELLAX_CLIENT_SynSend(unsigned int handle, PELLAX_Message* request, PELLAX_Message* response,
                                     unsigned int timeoutSeconds);
/* Sets JSON user data sent with Register (type 0) or Keepalive (type 1); NULL clears. */
PELLAX_API int PELLAX_CLIENT_SetUserData(unsigned int handle, unsigned int type, const char* data);
/* Fills key[0..length-1] with random bytes. */
PELLAX_API int PELLAX_CLIENT_GetDataKey(char* key, int length);
/* AES-128-ECB (first 16 key bytes) + PKCS#7, then base64 into output (no NUL; needs text length + 1).
 * -4 bad argument or a key shorter than 16 bytes, -5 no memory, -8 output too small, -9..-12 a cipher
 * step failed. */
PELLAX_API int PELLAX_CLIENT_Encrypt(const unsigned char* key, int keyLength, const unsigned char* data,
                                     int dataLength, char* output, int* outputLength);
/* Reverses PELLAX_CLIENT_Encrypt and writes a NUL after the plaintext. Output needs the decoded length.
 * -3 not base64, -4 bad argument, -5 no memory, -8 output too small, -9..-12 a cipher step failed. */
PELLAX_API int PELLAX_CLIENT_Decrypt(const unsigned char* key, int keyLength, const char* text, int textLength,
                                     unsigned char* output, int* outputLength);

#ifdef __cplusplus
}
#endif

#endif /* PELLAX_H */

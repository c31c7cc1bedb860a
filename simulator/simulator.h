/* The simulated reader's control API, exported by each simulator library (sdtapi, stdapi, WltRS)
 * beside its driver or decoder entry points. Tests and the host program use it to script the
 * reader; applications never need it. Out of the box (and after Sim_Reset) the simulator is a
 * reader on USB port 1001 with a working SAM and a built-in sample card. Its calls are numbered
 * as driver/call_numbers.h numbers them (SimEntry, SimLibrary, SimPrefix). */
#ifndef RIDEL_SIMULATOR_H
#define RIDEL_SIMULATOR_H

#include "driver/call_numbers.h"
#include "platform/abi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The records the driver hands out. */
enum SimRecord {
  SIM_REC_IDENTITY,          /* ReadBaseMsg text: 256 bytes */
  SIM_REC_PHOTO,             /* ReadBaseMsg photo: 1024 bytes */
  SIM_REC_APPENDED_ADDRESS,  /* ReadNewAppMsg: 280 bytes; 0 bytes means none (status 0x91) */
  SIM_REC_MNG_INFO,          /* ReadMngInfo: 28 bytes */
  SIM_REC_SAM_ID,            /* GetSAMID: raw bytes (16) */
  SIM_REC_SAM_ID_TEXT,       /* GetSAMIDToStr: the bytes written, terminator included */
  SIM_REC_COUNT
};

/* Port argument of the scripting calls that applies to every port. */
#define SIM_ANY_PORT (-2147483647 - 1)
/* Status argument of Sim_SetStatus that removes a scripted status again (Sim_QueueStatus: empties
 * that queue). */
#define SIM_NO_STATUS (-2147483647)

/* Statuses the simulator chooses where the driver contract names none. */
#define SIM_STATUS_NULL_POINTER 0x02      /* a buffer or out-value the call must write is null */
#define SIM_STATUS_NO_CARD 0x41           /* fault no_card: SelectIDCard and the three reads */
#define SIM_STATUS_SAM_NOT_ANSWERING 0x60 /* fault sam_not_answering: ResetSAM and the SAM queries */
/* What every call answers, the decoder's too, once a call in replay left the recorded sequence,
 * and while the recording or the profile it was asked to use cannot be used. */
#define SIM_STATUS_OFF_RECORDING 0x04
/* GetBmp's results when it cannot do its work. */
#define SIM_DECODE_UNREADABLE (-2)    /* the photo file cannot be read */
#define SIM_DECODE_WRITE_FAILED (-3)  /* the bitmap file cannot be written */

/* One call that reached the simulator. */
typedef struct SimCall {
  int library; /* SimLibrary */
  int prefix;  /* SimPrefix */
  int entry;   /* SimEntry */
  int port;    /* the port argument; 0 for GetBmp */
  int value;   /* the trailing integer: the driver flag, ANT's value, GetBmp's selector; 0 for
                  OpenPort and ClosePort */
  int result;  /* what the call returned */
  char path[260]; /* GetBmp: the photo path it was given (cut to fit, zero-terminated); else "" */
} SimCall;

typedef void(WINAPI* SimSink)(const SimCall* call);

/* Back to the state out of the box: reader on port 1001, SAM answering, the sample card, decoder
 * result 1, no scripted statuses, an empty journal, no sink. */
void WINAPI Sim_Reset(void);

/* The port on which the reader answers (1001-1016 through sdtapi, up to 1000 through stdapi).
 * OpenPort on any other port fails with status 0x01. */
void WINAPI Sim_SetReaderPort(int port);

/* Takes the card off the reader (0) or puts it back (1). Off, StartFindIDCard finds nothing (0x80)
 * and SelectIDCard and the reads give SIM_STATUS_NO_CARD, as with the fault no_card. */
void WINAPI Sim_SetCardOnReader(int on);

/* 1: the reader, once it has read the card (ReadBaseMsg), does not find it again (0x80) until the
 * card was taken off and put back; 0 (out of the box): it finds the card for as long as it lies
 * there. Real readers differ in this. */
void WINAPI Sim_SetHidesReadCard(int on);

/* Makes `entry` return `status` on `port` (or SIM_ANY_PORT) from now on, writing nothing into the
 * caller's buffers; SIM_NO_STATUS removes it. A per-port status wins over an any-port one. */
void WINAPI Sim_SetStatus(int entry, int port, int status);

/* Makes the next call of `entry` on `port` (or SIM_ANY_PORT) return `status`, once, before any
 * persistent status applies; queued statuses are used in the order queued. */
void WINAPI Sim_QueueStatus(int entry, int port, int status);

/* Replaces the bytes that the driver writes for a record (at most 4096). The reported length is
 * `size` unless Sim_SetReportedLength overrides it. */
void WINAPI Sim_SetRecord(int record, const void* data, int size);

/* Makes the driver report `length` for a record (text, photo or appended-address length) while it
 * still writes only the record's bytes: a misbehaving driver. */
void WINAPI Sim_SetReportedLength(int record, unsigned length);

/* GetBmp's result from now on; it writes the bitmap only when the result is 1. */
void WINAPI Sim_SetDecoderResult(int result);

/* The journal of calls, in call order, since the last reset or clear. */
void WINAPI Sim_ClearJournal(void);
int WINAPI Sim_JournalSize(void);
/* Copies entry `index` into *out; 1 on success, 0 when out of range. */
int WINAPI Sim_JournalEntry(int index, SimCall* out);
/* Hands every call to `sink` as well (nullptr: none). Lets a test merge the journals of the three
 * libraries in call order. */
void WINAPI Sim_SetJournalSink(SimSink sink);

/* Loads a card profile (JSON; see PROFILE.md). 1 on success; 0 with a message naming the field
 * (or the recording's file and line) in `error` (cut to error_size, zero-terminated), the
 * simulator's state unchanged, except that a recording that cannot be read makes every later call
 * fail with SIM_STATUS_OFF_RECORDING. */
int WINAPI Sim_LoadProfile(const char* path, char* error, int error_size);

#ifdef __cplusplus
}
#endif

#endif

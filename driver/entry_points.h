/* The outside driver's and decoder's entry points, listed once. Everything that names them is
 * made from this list: their types (sdtapi.h), the editions' entry-point table and its binding by
 * prefix (binding.h), the entry numbers of the simulator's journal and the recordings
 * (call_numbers.h), the simulator's exports and journal names, and the benchmark's direct calls.
 * Adding an entry point is one line here.
 *
 * RIDEL_DRIVER_ENTRY_POINTS(X) calls X(Name, NAME, prefixes, parameters, arguments) once per
 * entry point, in the order of the QDX edition's binding table:
 *   Name        the name without its prefix ("OpenPort"; the driver exports "QDX_OpenPort" and
 *               "SDT_OpenPort")
 *   NAME        the same in capitals, for the names of constants (the simulator's SIM_OPEN_PORT)
 *   prefixes    QDX_SDT: the driver's, under both prefixes; QDX: the driver's, under QDX_ only;
 *               DECODER: the decoder's, without a prefix
 *   parameters  the parameter list, each a 32-bit integer or a pointer; the result is an int
 *   arguments   the same parameters' names, for calls that pass them on
 * A C header: the simulator's C control API takes its entry numbers from it (call_numbers.h). */
#ifndef RIDEL_DRIVER_ENTRY_POINTS_H
#define RIDEL_DRIVER_ENTRY_POINTS_H

/* clang-format off */
#define RIDEL_DRIVER_ENTRY_POINTS(X)                                                              \
  X(OpenPort, OPEN_PORT, QDX_SDT, (int port), (port))                                             \
  X(ClosePort, CLOSE_PORT, QDX_SDT, (int port), (port))                                           \
  X(SetMaxRFByte, SET_MAX_RF_BYTE, QDX_SDT, (int port, unsigned char value, int flag),            \
    (port, value, flag))                                                                          \
  X(GetCOMBaud, GET_COM_BAUD, QDX_SDT, (int port, unsigned int* baud), (port, baud))              \
  X(SetCOMBaud, SET_COM_BAUD, QDX_SDT, (int port, unsigned int current, unsigned int wanted),     \
    (port, current, wanted))                                                                      \
  X(ResetSAM, RESET_SAM, QDX_SDT, (int port, int flag), (port, flag))                             \
  X(GetSAMStatus, GET_SAM_STATUS, QDX_SDT, (int port, int flag), (port, flag))                    \
  X(GetSAMID, GET_SAM_ID, QDX_SDT, (int port, unsigned char* id, int flag), (port, id, flag))     \
  X(GetSAMIDToStr, GET_SAM_ID_TO_STR, QDX_SDT, (int port, char* text, int flag),                  \
    (port, text, flag))                                                                           \
  X(StartFindIDCard, START_FIND_ID_CARD, QDX_SDT, (int port, unsigned char* buffer, int flag),    \
    (port, buffer, flag))                                                                         \
  X(SelectIDCard, SELECT_ID_CARD, QDX_SDT, (int port, unsigned char* buffer, int flag),           \
    (port, buffer, flag))                                                                         \
  X(ReadBaseMsg, READ_BASE_MSG, QDX_SDT,                                                          \
    (int port, unsigned char* text, unsigned int* text_length, unsigned char* photo,              \
     unsigned int* photo_length, int flag),                                                       \
    (port, text, text_length, photo, photo_length, flag))                                         \
  X(ReadMngInfo, READ_MNG_INFO, QDX_SDT, (int port, unsigned char* info, int flag),               \
    (port, info, flag))                                                                           \
  X(ReadNewAppMsg, READ_NEW_APP_MSG, QDX_SDT,                                                     \
    (int port, unsigned char* message, unsigned int* length, int flag),                           \
    (port, message, length, flag))                                                                \
  X(ANT, ANT, QDX, (int port, int value), (port, value))                                          \
  X(GetBmp, GET_BMP, DECODER, (char* wlt_path, int selector), (wlt_path, selector))
/* clang-format on */

#endif /* RIDEL_DRIVER_ENTRY_POINTS_H */

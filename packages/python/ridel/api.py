"""The raw API of the three editions: every export declared once, with ctypes.

``load(edition, path)`` gives the edition's library with the argument and result types of each
export set, for callers who need the calls themselves. On 32-bit Windows the exports are stdcall
(``WinDLL``); on Linux and 64-bit Windows there is one convention (``CDLL`` on Linux).
"""
import ctypes
import os
import sys
from typing import Dict, List, Optional, Tuple

EDITIONS = ("qdx", "sdt", "vantrel")
IS_WINDOWS = os.name == "nt"

# Buffer sizes in bytes, as the headers give them.
QDX_TEXT_RECORD_BYTES = 256
QDX_PHOTO_RECORD_BYTES = 1024
QDX_VERSION_TEXT_BYTES = 40
SDT_VALUE_BUFFER = 134
SDT_SAM_ID_BYTES = 16
VANTREL_ADDRESS_BYTES = 70  # the longest text value of a getter
VANTREL_PHOTO_BMP_BYTES = 102400
VANTREL_SAM_ID_TEXT_BYTES = 40
VANTREL_MANAGEMENT_INFO_BYTES = 28
VANTREL_DRIVER_OK = 0x90

_INT = ctypes.c_int
_TEXT = ctypes.c_char_p
_BYTES = ctypes.POINTER(ctypes.c_ubyte)
_GETTER = [_TEXT]  # SDT: zero-terminated text into a buffer of SDT_VALUE_BUFFER bytes
_SIZED = [_TEXT, _INT]  # vantrel: buffer and its size, the text not terminated

# Every export of every edition with its argument types; every result is an int.
EXPORTS: Dict[str, List[Tuple[str, list]]] = {
    "qdx": [(prefix + name, args) for name, args in [
        ("InitComm", [_INT]), ("CloseComm", []), ("Authenticate", []),
        ("Read_Content", [_INT])] for prefix in ("", "QDX_", "TC_")] + [
        ("TC_Read_Content_Path", [_INT, _INT]), ("QDX_Ant", [_INT]),
        ("QDX_ReadBaseMsg", [_BYTES, _INT, _BYTES, _INT, _INT]),
        ("QDX_GetDllVersion", [_TEXT])],
    "sdt": [("OpenComm", [_INT]), ("CloseComm", []), ("SelectCard", []),
            ("ReadBaseInfo", [_INT]), ("GetSamID", [_BYTES])] + [
        (name, _GETTER) for name in ("GetAddr", "GetBegin", "GetName", "GetSex", "GetFolk",
                                     "GetIDNum", "GetDep", "GetBirth", "GetEnd", "GetNewAddr",
                                     "GetPicPath")],
    "vantrel": [("Authenticate", []), ("CloseComm", []), ("InitComm", [_INT]),
                ("Read_Content", [_INT])] + [
        (name, _SIZED) for name in ("GetPeopleName", "GetPeopleSex", "GetPeopleNation",
                                    "GetPeopleBirthday", "GetPeopleAddress", "GetPeopleIDCode",
                                    "GetDepartment", "GetStartDate", "GetEndDate", "GetReserve",
                                    "GetPhotoBMP")] + [
        ("GetAppAddress", [_INT, _TEXT, _INT]), ("SetBaseData", [_TEXT]),
        ("SetPhotoData", [_TEXT]), ("SetAppAddress", [_BYTES, _INT]),
        ("ReadMngInfo", [_INT, _BYTES, _INT]), ("GetSAMIDToStr", [_INT, _TEXT, _INT])],
}


def library_file(edition: str) -> str:
    """The file name an application loads the edition by: ridel.dll on Windows (the vantrel
    edition deployed under that name too), libridel.so or libvantrel.so on Linux."""
    check_edition(edition)
    if IS_WINDOWS:
        return "ridel.dll"
    return "libvantrel.so" if edition == "vantrel" else "libridel.so"


def check_edition(edition: str) -> None:
    if edition not in EDITIONS:
        raise ValueError("unknown edition %r, expected one of %s" % (edition, ", ".join(EDITIONS)))


def load(edition: str, path: Optional[str] = None) -> ctypes.CDLL:
    """The edition's library, from `path` or, without one, by its file name through the system's
    library search (Linux: LD_LIBRARY_PATH and the system's folders; Windows: the folder of the
    process's executable first). Raises OSError when it cannot be loaded and AttributeError when
    an export is missing (the library is another edition)."""
    check_edition(edition)
    library = (ctypes.WinDLL if IS_WINDOWS else ctypes.CDLL)(path or library_file(edition))
    for name, args in EXPORTS[edition]:
        function = getattr(library, name)
        function.argtypes = args
        function.restype = _INT
    return library


def executable_folder() -> str:
    """The folder of the process's executable, where every edition writes its result files."""
    if IS_WINDOWS:
        buffer = ctypes.create_unicode_buffer(32768)
        length = ctypes.windll.kernel32.GetModuleFileNameW(None, buffer, len(buffer))
        if length == 0:
            raise ctypes.WinError()
        return os.path.dirname(buffer.value)
    try:
        return os.path.dirname(os.readlink("/proc/self/exe"))
    except OSError:
        return os.path.dirname(os.path.realpath(sys.executable))

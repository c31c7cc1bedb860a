"""Reading a card through any edition into a ``Card`` of Python values.

The editions hand out text in GBK (the ANSI code page of Chinese Windows; always GBK on Linux)
and write result files beside the process's executable. ``read_card`` decodes the one and reads,
then removes, the other, so that no identity data stays on disk.
"""
import ctypes
import datetime
import os
import re
from dataclasses import dataclass
from typing import Callable, Dict, List, Optional, Tuple, Union

from . import api

CardDate = Union[datetime.date, str]
"""A date, or the card's text where it holds no date (e.g. 长期 for a validity without end)."""

# What a failing result means, per export: (lowest, highest, meaning); the first match counts.
_ANY = (-(2 ** 31), 2 ** 31 - 1)
_DECODER = "the photo decoder failed"
MEANINGS: Dict[Tuple[str, str], List[Tuple[int, int, str]]] = {
    ("qdx", "InitComm"): [(*_ANY, "no reader on that port, or its SAM is not answering")],
    ("qdx", "Authenticate"): [(*_ANY, "no card on the reader")],
    ("qdx", "QDX_ReadBaseMsg"): [(*_ANY, "the card could not be read")],
    ("qdx", "Read_Content"): [(*_ANY, "the driver refused, a result file could not be written"
                                      " beside the process's executable, or " + _DECODER)],
    ("sdt", "OpenComm"): [(-10, -10, "no reader found (driver status 1)"),
                          (*_ANY, "no reader found (the driver's status)")],
    ("sdt", "SelectCard"): [(0, 0, "no card on the reader"), (-10, -10, "driver status 1"),
                            (*_ANY, "the card could not be selected (the driver's status)")],
    ("sdt", "ReadBaseInfo"): [
        (0, 0, "unknown read type"),
        (-8, -8, "a result file cannot be written beside the process's executable"),
        (-10, -10, "driver status 1"), (-11, -11, _DECODER), (-6, -1, _DECODER + " (its code)"),
        (*_ANY, "the driver's status")],
    ("sdt", "GetSamID"): [(*_ANY, "the SAM's identity could not be read")],
    ("vantrel", "InitComm"): [(*_ANY, "no reader on that port, or its SAM is not answering"
                                      " (idcrerror.log beside the library says why)")],
    ("vantrel", "Authenticate"): [(*_ANY, "no card on the reader")],
    ("vantrel", "Read_Content"): [
        (0, 0, "the driver refused or a result file could not be written beside the process's"
               " executable (idcrerror.log beside the library says why)"),
        (*_ANY, _DECODER + " (its result)")],
    ("vantrel", "GetSAMIDToStr"): [(*_ANY, "the driver's status: the SAM ID could not be read")],
}

SDT_NO_APPENDED_ADDRESS = 0x91

# The result files each edition writes in a full read (QDX: the SAM-named files besides).
RESULT_FILES = {
    "qdx": ["NEWADDR.txt"],
    "sdt": ["wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp", "NewAdd.txt", "NewAdd1.txt"],
    "vantrel": ["WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp"],
}


def meaning(edition: str, call: str, code: int) -> str:
    """What `code` means as the result of the export `call` of `edition`."""
    for low, high, text in MEANINGS.get((edition, call), []):
        if low <= code <= high:
            return text
    return "failed"


class CardError(Exception):
    """A failed step of a read: the step, the call with its arguments, its result and meaning."""

    def __init__(self, edition: str, step: str, call: str, args: str, code: int) -> None:
        self.edition, self.step, self.call, self.code = edition, step, call, code
        self.meaning = meaning(edition, call, code)
        super().__init__("%s: %s(%s) returned %d: %s" % (step, call, args, code, self.meaning))


@dataclass(frozen=True)
class Card:
    """One card as an edition read it; text in Unicode, the photo as the bytes of a BMP file."""
    edition: str
    name: str
    sex_code: str
    sex: str
    nation_code: str
    nation: str
    birth: CardDate
    address: str
    id_number: str
    authority: str
    valid_from: CardDate
    valid_to: CardDate
    appended_address: Optional[str]
    photo: bytes
    sam: Optional[str]
    """The reader's SAM as the edition gives it: QDX its number (the fourth group of the SAM ID),
    SDT its identity's 16 bytes in hexadecimal, vantrel the SAM ID text."""


def card_date(text: str) -> CardDate:
    """A date for eight digits YYYYMMDD that make one, else the text without its padding."""
    text = text.strip()
    if re.fullmatch(r"[0-9]{8}", text):
        try:
            return datetime.date(int(text[:4]), int(text[4:6]), int(text[6:]))
        except ValueError:
            pass
    return text


def record_codes(record: bytes) -> Tuple[str, str]:
    """The sex and nation codes of a 256-byte identity record (UCS-2 at bytes 30 and 32)."""
    if len(record) < 36:
        raise ValueError("an identity record of %d bytes, 256 expected" % len(record))
    return (record[30:32].decode("utf-16-le").strip("\0 "),
            record[32:36].decode("utf-16-le").strip("\0 "))


def qdx_dates(birth_line: str, validity_line: str) -> Tuple[CardDate, CardDate, CardDate]:
    """Birth, validity start and end from the QDX edition's text lines, which split each date's
    eight characters 4/2/2 as YYYY年MM月DD日 and YYYY.MM.DD-YYYY.MM.DD."""
    def parts(line: str, at: int, marks: str) -> Optional[str]:
        piece = line[at:at + 11]
        if len(piece) < 10 or piece[4] != marks[0] or piece[7] != marks[1] or \
                (len(marks) > 2 and piece[10:11] != marks[2]):
            return None
        return piece[0:4] + piece[5:7] + piece[8:10]

    birth = parts(birth_line, 0, "年月日") if len(birth_line) == 11 else None
    start = parts(validity_line, 0, "..-") if len(validity_line) == 21 else None
    end = parts(validity_line, 11, "..") if start is not None else None
    return (card_date(birth if birth is not None else birth_line),
            card_date(start if start is not None else validity_line),
            card_date(end if end is not None else validity_line))


def sdt_undash(value: bytes) -> bytes:
    """A date's bytes as they were on the card, from the SDT edition's form, which inserts "-" at
    byte 4 and then at byte 7 (at the end when the value is shorter): 1988-08-08 gives
    19880808, 长期-- gives 长期. A value without those dashes is given back as it is."""
    length = len(value) - 2
    first, second = min(4, length), min(7, length + 1)
    if length < 0 or value[first:first + 1] != b"-" or value[second:second + 1] != b"-":
        return value
    return value[:first] + value[first + 1:second] + value[second + 1:]


def _gbk(data: bytes) -> str:
    return data.decode("gbk", errors="replace")


def _read_file(folder: str, name: str) -> bytes:
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def _remove(folder: str, names: List[str]) -> None:
    for name in names:
        try:
            os.remove(os.path.join(folder, name))
        except FileNotFoundError:
            pass


class _Session:
    """Checks each call of one edition and names the failing one."""

    def __init__(self, edition: str, library: ctypes.CDLL) -> None:
        self.edition, self.library = edition, library

    def call(self, step: str, name: str, *args: int, ok: int = 1) -> int:
        return self.check(getattr(self.library, name)(*args), step, name, *args, ok=ok)

    def check(self, result: int, step: str, name: str, *args: int, ok: int = 1) -> int:
        if result != ok:
            raise CardError(self.edition, step, name, ", ".join(map(str, args)), result)
        return result


def _read_qdx(s: _Session, folder: str, port: int, written: List[str]) -> Card:
    s.call("open", "InitComm", port)
    try:
        s.call("authenticate", "Authenticate")
        record = (ctypes.c_ubyte * api.QDX_TEXT_RECORD_BYTES)()
        photo_record = (ctypes.c_ubyte * api.QDX_PHOTO_RECORD_BYTES)()
        s.call("read", "QDX_ReadBaseMsg", record, 0, photo_record, 0, 0)
        sex_code, nation_code = record_codes(bytes(record))
        # Mode 6: the text lines and the photo, in files named after the reader's SAM number.
        # They are found (and removed) also when the read fails half-way.
        started = _numbered_stems(folder)
        result = s.library.Read_Content(6)
        sam = _newest_stem(folder, started)
        if sam is not None:
            written += [sam + ".txt", sam + ".wlt", sam + ".bmp"]
        s.check(result, "read", "Read_Content", 6)
        if sam is None:
            raise FileNotFoundError("no text file named after the SAM number in " + folder)
        lines = _gbk(_read_file(folder, sam + ".txt")).split("\r\n")
        if len(lines) < 8:
            raise ValueError("%s.txt holds %d lines, 8 expected" % (sam, len(lines)))
        photo = _read_file(folder, sam + ".bmp")
        written += RESULT_FILES["qdx"]
        s.call("appended address", "Read_Content", 3)
        message = _read_file(folder, "NEWADDR.txt")
        appended = message[:70].decode("utf-16-le", errors="replace").strip("\0 ")
        birth, valid_from, valid_to = qdx_dates(lines[3], lines[7])
        return Card("qdx", lines[0].rstrip(), sex_code, lines[1], nation_code, lines[2], birth,
                    lines[4].rstrip(), lines[5].rstrip(), lines[6].rstrip(), valid_from,
                    valid_to, appended or None, photo, sam)
    finally:
        s.library.CloseComm()


_NUMBERED = re.compile(r"-?[0-9]+\.txt")


def _numbered_stems(folder: str) -> Dict[str, int]:
    """The QDX edition's SAM-named text files in `folder`, with their modification times."""
    stems = {}
    for entry in os.scandir(folder):
        if _NUMBERED.fullmatch(entry.name):
            stems[entry.name[:-4]] = entry.stat().st_mtime_ns
    return stems


def _newest_stem(folder: str, before: Dict[str, int]) -> Optional[str]:
    """The SAM-named text file that a read wrote: new or changed since `before` (the newest)."""
    changed = [(mtime, stem) for stem, mtime in _numbered_stems(folder).items()
               if before.get(stem) != mtime]
    return max(changed)[1] if changed else None


def _read_sdt(s: _Session, folder: str, port: int, written: List[str]) -> Card:
    s.call("open", "OpenComm", port)
    try:
        s.call("select", "SelectCard")
        written += RESULT_FILES["sdt"]
        s.call("read", "ReadBaseInfo", 1)
        buffer = ctypes.create_string_buffer(api.SDT_VALUE_BUFFER)

        def value(getter: str) -> bytes:
            length = getattr(s.library, getter)(buffer)
            return buffer.raw[:length]

        def text(getter: str) -> str:
            return _gbk(value(getter))

        name, sex, nation, address, id_number, authority = (text(g) for g in (
            "GetName", "GetSex", "GetFolk", "GetAddr", "GetIDNum", "GetDep"))
        birth, valid_from, valid_to = (card_date(_gbk(sdt_undash(value(g))))
                                       for g in ("GetBirth", "GetBegin", "GetEnd"))
        sex_code, nation_code = record_codes(_read_file(folder, "wz.txt"))
        photo = _read_file(folder, "zp.bmp")
        # The driver's 0x91 is a card without an appended address.
        result = s.library.ReadBaseInfo(3)
        appended = ""
        if result != SDT_NO_APPENDED_ADDRESS:
            s.check(result, "appended address", "ReadBaseInfo", 3)
            appended = text("GetNewAddr")
        sam_id = (ctypes.c_ubyte * api.SDT_SAM_ID_BYTES)()
        s.call("sam", "GetSamID", sam_id)
        return Card("sdt", name, sex_code, sex, nation_code, nation, birth, address, id_number,
                    authority, valid_from, valid_to, appended or None, photo,
                    bytes(sam_id).hex().upper())
    finally:
        s.library.CloseComm()


def _read_vantrel(s: _Session, folder: str, port: int, written: List[str]) -> Card:
    s.call("open", "InitComm", port)
    try:
        s.call("authenticate", "Authenticate")
        written += RESULT_FILES["vantrel"]
        s.call("read", "Read_Content", 1)
        # The getters do not terminate their text: the result is its length.
        buffer = ctypes.create_string_buffer(api.VANTREL_ADDRESS_BYTES + 1)

        def text(getter: Callable[[ctypes.Array, int], int]) -> str:
            length = getter(buffer, len(buffer))
            return _gbk(buffer.raw[:max(length, 0)]).rstrip()

        lib = s.library
        fields = [text(g) for g in (lib.GetPeopleName, lib.GetPeopleSex, lib.GetPeopleNation,
                                    lib.GetPeopleBirthday, lib.GetPeopleAddress,
                                    lib.GetPeopleIDCode, lib.GetDepartment, lib.GetStartDate,
                                    lib.GetEndDate)]
        appended = text(lambda b, n: lib.GetAppAddress(1, b, n))
        bitmap = ctypes.create_string_buffer(api.VANTREL_PHOTO_BMP_BYTES)
        length = lib.GetPhotoBMP(bitmap, len(bitmap))
        photo = bitmap.raw[:max(length, 0)]
        if not photo:
            raise ValueError("GetPhotoBMP gave no bitmap after a successful read")
        sex_code, nation_code = record_codes(_read_file(folder, "WZ.txt"))
        sam = ctypes.create_string_buffer(api.VANTREL_SAM_ID_TEXT_BYTES)
        s.call("sam", "GetSAMIDToStr", port, sam, 0, ok=api.VANTREL_DRIVER_OK)
        name, sex, nation, birth, address, id_number, authority, start, end = fields
        return Card("vantrel", name, sex_code, sex, nation_code, nation, card_date(birth),
                    address, id_number, authority, card_date(start), card_date(end),
                    appended or None, photo, sam.value.decode("ascii", errors="replace"))
    finally:
        s.library.CloseComm()


_READERS = {"qdx": _read_qdx, "sdt": _read_sdt, "vantrel": _read_vantrel}


def read_card(edition: str = "sdt", library: Optional[str] = None, port: int = 1001) -> Card:
    """Opens the reader on `port`, reads the card through `edition` ("qdx", "sdt" or "vantrel",
    from the file `library` or found by its file name, see api.load) and closes the port again.

    The edition writes its result files beside the process's executable (here the Python
    interpreter): run from a private copy of it. They are removed once read.
    Raises CardError for a failing call, OSError when the library or a result file is missing."""
    session = _Session(edition, api.load(edition, library))
    folder = api.executable_folder()
    written: List[str] = []
    try:
        return _READERS[edition](session, folder, port, written)
    finally:
        _remove(folder, written)

package ridel;

import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.function.ToIntFunction;

/**
 * Reads a card through one edition. The editions hand out text in GBK (the ANSI code page of
 * Chinese Windows; always GBK on Linux) and write result files beside the process's executable;
 * the reader decodes the one and reads, then removes, the other, so that no identity data stays
 * on disk.
 */
public final class CardReader {
    private CardReader() {}

    /** GBK, the editions' text encoding (a jlink runtime needs the module jdk.charsets). */
    public static final Charset GBK = Charset.forName("GBK");
    private static final String DECODER = "the photo decoder failed";
    private static final Map<String, Object[][]> MEANINGS = new HashMap<>();

    private static void mean(Edition e, String call, Object[]... ranges) {
        MEANINGS.put(e + " " + call, ranges);
    }

    private static Object[] r(int low, int high, String text) {
        return new Object[] {low, high, text};
    }

    private static Object[] any(String text) {
        return r(Integer.MIN_VALUE, Integer.MAX_VALUE, text);
    }

    static {
        mean(Edition.QDX, "InitComm", any("no reader on that port, or its SAM is not answering"));
        mean(Edition.QDX, "Authenticate", any("no card on the reader"));
        mean(Edition.QDX, "QDX_ReadBaseMsg", any("the card could not be read"));
        mean(Edition.QDX, "Read_Content", any("the driver refused, a result file could not be written"
                + " beside the process's executable, or " + DECODER));
        mean(Edition.SDT, "OpenComm", r(-10, -10, "no reader found (driver status 1)"),
                any("no reader found (the driver's status)"));
        mean(Edition.SDT, "SelectCard", r(0, 0, "no card on the reader"), r(-10, -10, "driver status 1"),
                any("the card could not be selected (the driver's status)"));
        mean(Edition.SDT, "ReadBaseInfo", r(0, 0, "unknown read type"),
                r(-8, -8, "a result file cannot be written beside the process's executable"),
                r(-10, -10, "driver status 1"), r(-11, -11, DECODER), r(-6, -1, DECODER + " (its code)"),
                any("the driver's status"));
        mean(Edition.SDT, "GetSamID", any("the SAM's identity could not be read"));
        mean(Edition.VANTREL, "InitComm", any("no reader on that port, or its SAM is not answering"
                + " (idcrerror.log beside the library says why)"));
        mean(Edition.VANTREL, "Authenticate", any("no card on the reader"));
        mean(Edition.VANTREL, "Read_Content", r(0, 0, "the driver refused or a result file could not"
                + " be written beside the process's executable (idcrerror.log beside the library says why)"),
                any(DECODER + " (its result)"));
        mean(Edition.VANTREL, "GetSAMIDToStr", any("the driver's status: the SAM ID could not be read"));
    }

    /**
     * What a result means.
     *
     * @param edition the edition
     * @param call the export
     * @param code its result
     * @return the meaning the edition's header gives
     */
    public static String meaning(Edition edition, String call, int code) {
        Object[][] ranges = MEANINGS.get(edition + " " + call);
        if (ranges != null) {
            for (Object[] r : ranges) {
                if (code >= (Integer) r[0] && code <= (Integer) r[1]) {
                    return (String) r[2];
                }
            }
        }
        return "failed";
    }

    /**
     * Opens the reader on {@code port}, reads the card and closes the port. The edition writes
     * result files beside the process's executable (the java runtime's bin folder: run from a
     * runtime of the application's own); they are removed once read.
     *
     * @param edition the edition
     * @param library the library's path, or null to find it as {@link Api#load} says
     * @param port the reader's port (USB 1001 to 1016, serial up to 1000)
     * @return the card
     * @throws CardException when a call fails
     * @throws IOException when a result file the edition reported written cannot be read
     */
    public static Card read(Edition edition, String library, int port) throws CardException, IOException {
        Path folder = Api.executableFolder();
        List<String> written = new ArrayList<>();
        try {
            switch (edition) {
                case QDX: return readQdx(Api.load(Api.Qdx.class, edition, library), folder, port, written);
                case SDT: return readSdt(Api.load(Api.Sdt.class, edition, library), folder, port, written);
                default: return readVantrel(Api.load(Api.Vantrel.class, edition, library), folder, port, written);
            }
        } finally {
            for (String name : written) {
                Files.deleteIfExists(folder.resolve(name));
            }
        }
    }

    private static void check(Edition e, String step, String call, int result, int ok, int... args)
            throws CardException {
        if (result != ok) {
            StringBuilder text = new StringBuilder();
            for (int a : args) {
                text.append(text.length() > 0 ? ", " : "").append(a);
            }
            throw new CardException(e, step, call, text.toString(), result);
        }
    }

    /**
     * The sex and nation codes of a 256-byte identity record (UCS-2 at bytes 30 and 32).
     *
     * @param record the record
     * @return sex code and nation code
     * @throws IOException when the record is too short
     */
    public static String[] recordCodes(byte[] record) throws IOException {
        if (record.length < 36) {
            throw new IOException("an identity record of " + record.length + " bytes, 256 expected");
        }
        return new String[] {strip(new String(record, 30, 2, StandardCharsets.UTF_16LE)),
            strip(new String(record, 32, 4, StandardCharsets.UTF_16LE))};
    }

    private static String strip(String s) {
        return s.replace('\0', ' ').trim();
    }

    private static String trimEnd(String s) {
        int end = s.length();
        while (end > 0 && Character.isWhitespace(s.charAt(end - 1))) {
            end--;
        }
        return s.substring(0, end);
    }

    /**
     * Birth, validity start and end from the QDX edition's text lines, which split each date's
     * eight characters 4/2/2 as YYYY年MM月DD日 and YYYY.MM.DD-YYYY.MM.DD.
     *
     * @param birthLine the fourth line
     * @param validityLine the eighth line
     * @return the three dates
     */
    public static CardDate[] qdxDates(String birthLine, String validityLine) {
        String birth = split(birthLine, 0, "年月日", 11);
        String start = split(validityLine, 0, "..-", 21);
        String end = start != null ? split(validityLine, 11, "..", 21) : null;
        return new CardDate[] {CardDate.parse(birth != null ? birth : birthLine),
            CardDate.parse(start != null ? start : validityLine), CardDate.parse(end != null ? end : validityLine)};
    }

    private static String split(String line, int at, String marks, int length) {
        if (line.length() != length || line.charAt(at + 4) != marks.charAt(0) || line.charAt(at + 7) != marks.charAt(1)
                || (marks.length() > 2 && line.charAt(at + 10) != marks.charAt(2))) {
            return null;
        }
        return line.substring(at, at + 4) + line.substring(at + 5, at + 7) + line.substring(at + 8, at + 10);
    }

    private static String orNull(String s) {
        return s.isEmpty() ? null : s;
    }

    private static Card readQdx(Api.Qdx api, Path folder, int port, List<String> written)
            throws CardException, IOException {
        final Edition e = Edition.QDX;
        check(e, "open", "InitComm", api.InitComm(port), 1, port);
        try {
            check(e, "authenticate", "Authenticate", api.Authenticate(), 1);
            byte[] record = new byte[Api.QDX_TEXT_RECORD_BYTES];
            byte[] photoRecord = new byte[Api.QDX_PHOTO_RECORD_BYTES];
            check(e, "read", "QDX_ReadBaseMsg", api.QDX_ReadBaseMsg(record, 0, photoRecord, 0, 0), 1);
            String[] codes = recordCodes(record);
            // Mode 6: the text lines and the photo, in files named after the reader's SAM number.
            // They are found (and removed) also when the read fails half-way.
            Map<String, Long> before = numberedStems(folder);
            int result = api.Read_Content(6);
            String sam = null;
            long newest = Long.MIN_VALUE;
            for (Map.Entry<String, Long> s : numberedStems(folder).entrySet()) {
                if (!s.getValue().equals(before.get(s.getKey())) && s.getValue() >= newest) {
                    sam = s.getKey();
                    newest = s.getValue();
                }
            }
            if (sam != null) {
                written.addAll(Arrays.asList(sam + ".txt", sam + ".wlt", sam + ".bmp"));
            }
            check(e, "read", "Read_Content", result, 1, 6);
            if (sam == null) {
                throw new NoSuchFileException(folder.toString(), null, "no text file named after the SAM number");
            }
            String[] lines = new String(Files.readAllBytes(folder.resolve(sam + ".txt")), GBK).split("\r\n", -1);
            if (lines.length < 8) {
                throw new IOException(sam + ".txt holds " + lines.length + " lines, 8 expected");
            }
            byte[] photo = Files.readAllBytes(folder.resolve(sam + ".bmp"));
            written.add("NEWADDR.txt");
            check(e, "appended address", "Read_Content", api.Read_Content(3), 1, 3);
            byte[] message = Files.readAllBytes(folder.resolve("NEWADDR.txt"));
            String appended = strip(new String(message, 0, Math.min(message.length, 70) & ~1,
                    StandardCharsets.UTF_16LE));
            return new Card(e, new String[] {trimEnd(lines[0]), codes[0], lines[1], codes[1], lines[2],
                trimEnd(lines[4]), trimEnd(lines[5]), trimEnd(lines[6])}, qdxDates(lines[3], lines[7]),
                orNull(appended), photo, sam);
        } finally {
            api.CloseComm();
        }
    }

    private static Map<String, Long> numberedStems(Path folder) throws IOException {
        Map<String, Long> stems = new HashMap<>();
        try (DirectoryStream<Path> files = Files.newDirectoryStream(folder, "*.txt")) {
            for (Path p : files) {
                String name = p.getFileName().toString();
                String stem = name.substring(0, name.length() - 4);
                if (stem.matches("-?[0-9]+")) {
                    stems.put(stem, Files.getLastModifiedTime(p).toMillis());
                }
            }
        }
        return stems;
    }

    private static final int SDT_NO_APPENDED_ADDRESS = 0x91;

    /**
     * A date's bytes as they were on the card, from the SDT edition's form, which inserts "-" at
     * byte 4 and then at byte 7 (at the end when the value is shorter): 1988-08-08 gives 19880808,
     * 长期-- gives 长期. A value without those dashes is given back as it is.
     *
     * @param value the getter's bytes
     * @return the card's bytes
     */
    public static byte[] undash(byte[] value) {
        int length = value.length - 2;
        int first = Math.min(4, length);
        int second = Math.min(7, length + 1);
        if (length < 0 || value[first] != '-' || value[second] != '-') {
            return value;
        }
        byte[] out = new byte[length];
        System.arraycopy(value, 0, out, 0, first);
        System.arraycopy(value, first + 1, out, first, second - first - 1);
        System.arraycopy(value, second + 1, out, second - 1, value.length - second - 1);
        return out;
    }

    private static final List<String> SDT_FILES =
            Arrays.asList("wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp", "NewAdd.txt", "NewAdd1.txt");

    private static Card readSdt(Api.Sdt api, Path folder, int port, List<String> written)
            throws CardException, IOException {
        final Edition e = Edition.SDT;
        check(e, "open", "OpenComm", api.OpenComm(port), 1, port);
        try {
            check(e, "select", "SelectCard", api.SelectCard(), 1);
            written.addAll(SDT_FILES);
            check(e, "read", "ReadBaseInfo", api.ReadBaseInfo(1), 1, 1);
            byte[] buffer = new byte[Api.SDT_VALUE_BUFFER];
            List<ToIntFunction<byte[]>> textGetters = Arrays.asList(api::GetName, null, api::GetSex, null,
                    api::GetFolk, api::GetAddr, api::GetIDNum, api::GetDep);
            String[] text = new String[textGetters.size()];
            for (int i = 0; i < text.length; i++) {
                if (textGetters.get(i) != null) {
                    text[i] = new String(buffer, 0, textGetters.get(i).applyAsInt(buffer), GBK);
                }
            }
            List<ToIntFunction<byte[]>> dateGetters = Arrays.asList(api::GetBirth, api::GetBegin, api::GetEnd);
            CardDate[] parsed = new CardDate[dateGetters.size()];
            for (int i = 0; i < parsed.length; i++) {
                byte[] value = Arrays.copyOf(buffer, dateGetters.get(i).applyAsInt(buffer));
                parsed[i] = CardDate.parse(new String(undash(value), GBK));
            }
            String[] codes = recordCodes(Files.readAllBytes(folder.resolve("wz.txt")));
            text[1] = codes[0];
            text[3] = codes[1];
            byte[] photo = Files.readAllBytes(folder.resolve("zp.bmp"));
            // The driver's 0x91 is a card without an appended address.
            int result = api.ReadBaseInfo(3);
            String appended = "";
            if (result != SDT_NO_APPENDED_ADDRESS) {
                check(e, "appended address", "ReadBaseInfo", result, 1, 3);
                appended = new String(buffer, 0, api.GetNewAddr(buffer), GBK);
            }
            byte[] sam = new byte[Api.SDT_SAM_ID_BYTES];
            check(e, "sam", "GetSamID", api.GetSamID(sam), 1);
            StringBuilder hex = new StringBuilder();
            for (byte b : sam) {
                hex.append(String.format("%02X", b & 0xFF));
            }
            return new Card(e, text, parsed, orNull(appended), photo, hex.toString());
        } finally {
            api.CloseComm();
        }
    }

    private interface SizedGetter {
        int get(byte[] buffer, int size);
    }

    private static final List<String> VANTREL_FILES = Arrays.asList("WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp");

    private static Card readVantrel(Api.Vantrel api, Path folder, int port, List<String> written)
            throws CardException, IOException {
        final Edition e = Edition.VANTREL;
        check(e, "open", "InitComm", api.InitComm(port), 1, port);
        try {
            check(e, "authenticate", "Authenticate", api.Authenticate(), 1);
            written.addAll(VANTREL_FILES);
            check(e, "read", "Read_Content", api.Read_Content(1), 1, 1);
            // The getters do not terminate their text: the result is its length.
            byte[] buffer = new byte[Api.VANTREL_LONGEST_TEXT + 1];
            SizedGetter[] getters = {api::GetPeopleName, null, api::GetPeopleSex, null, api::GetPeopleNation,
                api::GetPeopleAddress, api::GetPeopleIDCode, api::GetDepartment,
                api::GetPeopleBirthday, api::GetStartDate, api::GetEndDate, (b, n) -> api.GetAppAddress(1, b, n)};
            String[] values = new String[getters.length];
            for (int i = 0; i < getters.length; i++) {
                if (getters[i] != null) {
                    values[i] = trimEnd(new String(buffer, 0, Math.max(getters[i].get(buffer, buffer.length), 0), GBK));
                }
            }
            byte[] bitmap = new byte[Api.VANTREL_PHOTO_BMP_BYTES];
            int photoLength = api.GetPhotoBMP(bitmap, bitmap.length);
            if (photoLength <= 0) {
                throw new IOException("GetPhotoBMP gave no bitmap after a successful read");
            }
            String[] codes = recordCodes(Files.readAllBytes(folder.resolve("WZ.txt")));
            values[1] = codes[0];
            values[3] = codes[1];
            byte[] sam = new byte[Api.VANTREL_SAM_ID_TEXT_BYTES];
            check(e, "sam", "GetSAMIDToStr", api.GetSAMIDToStr(port, sam, 0), Api.VANTREL_DRIVER_OK, port, 0);
            int samLength = 0;
            while (samLength < sam.length && sam[samLength] != 0) {
                samLength++;
            }
            CardDate[] dates = {CardDate.parse(values[8]), CardDate.parse(values[9]), CardDate.parse(values[10])};
            return new Card(e, Arrays.copyOf(values, 8), dates, orNull(values[11]),
                    Arrays.copyOf(bitmap, photoLength), new String(sam, 0, samLength, StandardCharsets.US_ASCII));
        } finally {
            api.CloseComm();
        }
    }
}

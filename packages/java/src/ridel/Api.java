package ridel;

import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import com.sun.jna.win32.StdCallLibrary;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Collections;
import java.util.Map;

/**
 * The raw API of the three editions: every export declared once, for callers who need the calls
 * themselves. The exports are stdcall on 32-bit Windows and use the platform's one convention
 * elsewhere. Paths handed to the exports are bytes in the system's ANSI code page, zero-terminated.
 */
public final class Api {
    private Api() {}

    /** QDX_ReadBaseMsg's text record, in bytes. */
    public static final int QDX_TEXT_RECORD_BYTES = 256;
    /** QDX_ReadBaseMsg's photo record, in bytes. */
    public static final int QDX_PHOTO_RECORD_BYTES = 1024;
    /** QDX_GetDllVersion's text, zero-padded, in bytes. */
    public static final int QDX_VERSION_TEXT_BYTES = 40;
    /** An SDT getter buffer that holds every value and its zero byte. */
    public static final int SDT_VALUE_BUFFER = 134;
    /** GetSamID's raw SAM identity, in bytes. */
    public static final int SDT_SAM_ID_BYTES = 16;
    /** The longest vantrel text value (the address); one byte more keeps a zero after any value. */
    public static final int VANTREL_LONGEST_TEXT = 70;
    /** The largest bitmap GetPhotoBMP hands out. */
    public static final int VANTREL_PHOTO_BMP_BYTES = 102400;
    /** GetSAMIDToStr's text with its zero byte. */
    public static final int VANTREL_SAM_ID_TEXT_BYTES = 40;
    /** ReadMngInfo's record. */
    public static final int VANTREL_MANAGEMENT_INFO_BYTES = 28;
    /** The driver's success, as ReadMngInfo and GetSAMIDToStr hand it on. */
    public static final int VANTREL_DRIVER_OK = 0x90;

    /** Every export of the QDX edition (ridel_qdx.h): results 1 success, 0 failure. */
    @SuppressWarnings("checkstyle:MethodName")
    public interface Qdx extends Library {
        /** @param port the port @return 1 or 0 */ int InitComm(int port);
        /** @param port the port @return 1 or 0 */ int QDX_InitComm(int port);
        /** @param port the port @return 1 or 0 */ int TC_InitComm(int port);
        /** @return 1 or 0 */ int CloseComm();
        /** @return 1 or 0 */ int QDX_CloseComm();
        /** @return 1 or 0 */ int TC_CloseComm();
        /** @return 1 or 0 */ int Authenticate();
        /** @return 1 or 0 */ int QDX_Authenticate();
        /** @return 1 or 0 */ int TC_Authenticate();
        /** @param mode content mode 1 to 6 @return 1 or 0 */ int Read_Content(int mode);
        /** @param mode content mode 1 to 6 @return 1 or 0 */ int QDX_Read_Content(int mode);
        /** @param mode content mode 1 to 6 @return 1 or 0 */ int TC_Read_Content(int mode);
        /** @param mode content mode 1 to 6 @param unused ignored @return 1 or 0 */
        int TC_Read_Content_Path(int mode, int unused);
        /** @param value the ANT value @return the low byte of the driver's answer */
        int QDX_Ant(int value);
        /**
         * @param text 256 bytes @param unused1 ignored @param photo 1024 bytes
         * @param unused2 ignored @param unused3 ignored @return 1 or 0
         */
        int QDX_ReadBaseMsg(byte[] text, int unused1, byte[] photo, int unused2, int unused3);
        /** @param version 40 bytes @return 1 or 0 */ int QDX_GetDllVersion(byte[] version);
    }

    /** Every export of the SDT edition (ridel_sdt.h); getters write zero-terminated text. */
    public interface Sdt extends Library {
        /** @param port the port tried after USB 1001 to 1016 @return 1, or -10 or the driver's status */
        int OpenComm(int port);
        /** @return 1, or -10 or the driver's status */ int CloseComm();
        /** @return 1, 0 no card, or -10 or the driver's status */ int SelectCard();
        /** @param readType 1 to 5 @return 1 or an error code of the header */ int ReadBaseInfo(int readType);
        /** @param id 16 bytes @return 1 or 0 */ int GetSamID(byte[] id);
        /** @param text 134 bytes @return the length */ int GetAddr(byte[] text);
        /** @param text 134 bytes @return the length */ int GetBegin(byte[] text);
        /** @param text 134 bytes @return the length */ int GetName(byte[] text);
        /** @param text 134 bytes @return the length */ int GetSex(byte[] text);
        /** @param text 134 bytes @return the length */ int GetFolk(byte[] text);
        /** @param text 134 bytes @return the length */ int GetIDNum(byte[] text);
        /** @param text 134 bytes @return the length */ int GetDep(byte[] text);
        /** @param text 134 bytes @return the length */ int GetBirth(byte[] text);
        /** @param text 134 bytes @return the length */ int GetEnd(byte[] text);
        /** @param text 134 bytes @return the length */ int GetNewAddr(byte[] text);
        /** @param text 134 bytes @return the length */ int GetPicPath(byte[] text);
    }

    /** Every export of the vantrel edition (vantrel.h); getters do not terminate their text. */
    public interface Vantrel extends Library {
        /** @return 1 or 0 */ int Authenticate();
        /** @return 1 or 0 */ int CloseComm();
        /** @param port the port @return 1 or 0 */ int InitComm(int port);
        /** @param mode 1, 2, 3 or 5 @return 1, 0 or the decoder's result */ int Read_Content(int mode);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetPeopleName(byte[] b, int size);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetPeopleSex(byte[] b, int size);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetPeopleNation(byte[] b, int size);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetPeopleBirthday(byte[] b, int size);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetPeopleAddress(byte[] b, int size);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetPeopleIDCode(byte[] b, int size);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetDepartment(byte[] b, int size);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetStartDate(byte[] b, int size);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetEndDate(byte[] b, int size);
        /** @param b buffer @param size its size @return the length, or 0 */ int GetReserve(byte[] b, int size);
        /** @param b buffer @param size its size @return the bitmap's length, or 0 */ int GetPhotoBMP(byte[] b, int size);
        /** @param index 1 to 4 @param b buffer @param size its size @return the length, or 0 */
        int GetAppAddress(int index, byte[] b, int size);
        /** @param path zero-terminated ANSI path @return 1 or 0 */ int SetBaseData(byte[] path);
        /** @param path zero-terminated ANSI path @return 1 or the decoder's result */ int SetPhotoData(byte[] path);
        /** @param data the message @param length its length @return 1 or 0 */ int SetAppAddress(byte[] data, int length);
        /** @param port the port @param data 28 bytes @param flag the driver's flag @return the driver's status */
        int ReadMngInfo(int port, byte[] data, int flag);
        /** @param port the port @param text 40 bytes @param flag the driver's flag @return the driver's status */
        int GetSAMIDToStr(int port, byte[] text, int flag);
    }

    private interface Kernel32 extends StdCallLibrary {
        int GetModuleFileNameW(Pointer module, char[] name, int size);
    }

    /**
     * Loads an edition's library.
     *
     * @param <T> the edition's interface: {@link Qdx}, {@link Sdt} or {@link Vantrel}
     * @param type that interface
     * @param edition the edition, for its library name
     * @param library the library's path, or null for {@link Edition#libraryName()} found on
     *     jna.library.path and then by the system's search (Windows: the executable's folder
     *     first; Linux: LD_LIBRARY_PATH and the system's folders)
     * @return the bound exports
     * @throws UnsatisfiedLinkError when the library cannot be loaded or lacks an export
     */
    public static <T extends Library> T load(Class<T> type, Edition edition, String library) {
        Map<String, ?> options = Platform.isWindows() && !Platform.is64Bit()
                ? Collections.singletonMap(Library.OPTION_CALLING_CONVENTION,
                        StdCallLibrary.STDCALL_CONVENTION)
                : Collections.<String, Object>emptyMap();
        return Native.load(library != null ? library : edition.libraryName(), type, options);
    }

    /**
     * The folder of the process's executable, where every edition writes its result files: for
     * a program started by java, the runtime's bin folder.
     *
     * @return the folder
     * @throws IOException when it cannot be found
     */
    public static Path executableFolder() throws IOException {
        if (Platform.isWindows()) {
            char[] name = new char[32768];
            int length = Native.load("kernel32", Kernel32.class).GetModuleFileNameW(null, name, name.length);
            if (length <= 0) {
                throw new IOException("GetModuleFileNameW failed");
            }
            return Paths.get(new String(name, 0, length)).getParent();
        }
        return Files.readSymbolicLink(Paths.get("/proc/self/exe")).getParent();
    }
}

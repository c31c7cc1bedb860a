// Reading a card from Java with JNA through the getters of the vantrel edition.
//
//     java -cp .:jna.jar -Djna.library.path=FOLDER_OF_THE_LIBRARY ReadCard [PORT] [PHOTO.bmp]
//
// The library is vantrel.dll deployed as ridel.dll on Windows, libvantrel.so on Linux. It loads the
// reader's driver and decoder (sdtapi.dll, stdapi.dll, WltRS.dll; on Linux libsdtapi.so,
// libstdapi.so, libwltrs.so) by name when it is loaded: put them beside the java executable or on
// the loader's path (Windows: PATH; Linux: LD_LIBRARY_PATH). Its result files (WZ.txt, XP.wlt,
// ZP.wlt, ZP.bmp) land beside the process's executable, here java: run the program from a runtime
// of its own (jlink) or from a launcher executable of its own. The getters hand out every field,
// the photo as bitmap bytes included, so the program itself never reads those files; this one
// saves the photo where it is told to (default: photo.bmp in the working folder).
//
// Texts are in the system's ANSI code page: GBK on Chinese Windows, always GBK on Linux. A runtime
// made with jlink needs the module jdk.charsets for it.

import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.Platform;
import com.sun.jna.win32.StdCallLibrary;
import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.Map;

public final class ReadCard {
    /** The exports used here; every getter copies into buffer and returns the bytes copied. */
    public interface Vantrel extends Library {
        int InitComm(int port);
        int Authenticate();
        int Read_Content(int mode);
        int CloseComm();

        int GetPeopleName(byte[] buffer, int size);
        int GetPeopleSex(byte[] buffer, int size);
        int GetPeopleNation(byte[] buffer, int size);
        int GetPeopleBirthday(byte[] buffer, int size);
        int GetPeopleAddress(byte[] buffer, int size);
        int GetPeopleIDCode(byte[] buffer, int size);
        int GetDepartment(byte[] buffer, int size);
        int GetStartDate(byte[] buffer, int size);
        int GetEndDate(byte[] buffer, int size);
        int GetPhotoBMP(byte[] buffer, int size);
    }

    private static final int OK = 1;
    private static final int READ_ALL = 1;   // Read_Content mode 1: fields, photo, appended address
    private static final int TEXT_BUFFER = 71;  // the longest text, the address, and one byte more
    private static final int PHOTO_BUFFER = 102400;  // every bitmap the library keeps
    private static final Charset GBK = Charset.forName("GBK");

    /** A getter: the field's bytes go into buffer, the result is their count or 0. */
    private interface Getter {
        int get(byte[] buffer, int size);
    }

    private static final class CardException extends Exception {
        private static final long serialVersionUID = 1L;

        CardException(String message) {
            super(message);
        }
    }

    private static Vantrel load() {
        // On 32-bit Windows the exports are stdcall; elsewhere there is only one convention.
        Map<String, ?> options = Platform.isWindows() && !Platform.is64Bit()
                ? Map.of(Library.OPTION_CALLING_CONVENTION, StdCallLibrary.STDCALL_CONVENTION)
                : Map.of();
        return Native.load(Platform.isWindows() ? "ridel" : "vantrel", Vantrel.class, options);
    }

    /** A text field, or an exception naming the getter when the card gave none. */
    private static String text(String name, Getter getter) throws CardException {
        byte[] buffer = new byte[TEXT_BUFFER];
        int length = getter.get(buffer, buffer.length);
        if (length <= 0) {
            throw new CardException(name + " returned " + length + ": no such field on the card");
        }
        // Fields keep the blanks that pad them on the card.
        return new String(buffer, 0, length, GBK).trim();
    }

    private static void read(Vantrel card, int port, Path photo) throws CardException, IOException {
        if (card.InitComm(port) != OK) {
            throw new CardException("InitComm(" + port + ") returned 0: no reader on that port, or no"
                    + " driver (see idcrerror.log beside the library)");
        }
        try {
            if (card.Authenticate() != OK) {
                throw new CardException("Authenticate() returned 0: no card on the reader");
            }
            int r = card.Read_Content(READ_ALL);
            if (r != OK) {
                throw new CardException("Read_Content(1) returned " + r + (r == 0
                        ? ": idcrerror.log beside the library says why (a result file that"
                          + " cannot be written beside the process's executable, for one)"
                        : ": the photo decoder failed"));
            }
            System.out.println("name       " + text("GetPeopleName", card::GetPeopleName));
            System.out.println("sex        " + text("GetPeopleSex", card::GetPeopleSex));
            System.out.println("nation     " + text("GetPeopleNation", card::GetPeopleNation));
            System.out.println("birth      " + text("GetPeopleBirthday", card::GetPeopleBirthday));
            System.out.println("address    " + text("GetPeopleAddress", card::GetPeopleAddress));
            System.out.println("id number  " + text("GetPeopleIDCode", card::GetPeopleIDCode));
            System.out.println("authority  " + text("GetDepartment", card::GetDepartment));
            System.out.println("valid from " + text("GetStartDate", card::GetStartDate));
            System.out.println("valid to   " + text("GetEndDate", card::GetEndDate));

            byte[] bitmap = new byte[PHOTO_BUFFER];
            int length = card.GetPhotoBMP(bitmap, bitmap.length);
            if (length <= 0) {
                throw new CardException("GetPhotoBMP returned " + length + ": the photo was not decoded");
            }
            Files.write(photo, Arrays.copyOf(bitmap, length));
            System.out.println("photo      " + photo.toAbsolutePath());
        } finally {
            card.CloseComm();
        }
    }

    public static void main(String[] args) {
        int port;
        try {
            port = args.length > 0 ? Integer.parseInt(args[0]) : 1001;
        } catch (NumberFormatException e) {
            System.err.println("ReadCard: not a port number: " + args[0]);
            System.exit(2);
            return;
        }
        Path photo = Paths.get(args.length > 1 ? args[1] : "photo.bmp");
        try {
            read(load(), port, photo);
        } catch (UnsatisfiedLinkError e) {
            System.err.println("ReadCard: the vantrel library cannot be loaded: " + e.getMessage());
            System.exit(1);
        } catch (CardException e) {
            System.err.println("ReadCard: " + e.getMessage());
            System.exit(1);
        } catch (IOException e) {
            System.err.println("ReadCard: the photo cannot be saved: " + e);
            System.exit(1);
        }
    }
}

// Reads a card through the package and prints it for tests/packages/check_packages.py.
//     java -cp ... Probe EDITION PORT [LIBRARY]

import java.io.PrintStream;
import java.io.UnsupportedEncodingException;
import ridel.Card;
import ridel.CardDate;
import ridel.CardException;
import ridel.CardReader;
import ridel.Edition;

public final class Probe {
    private static String show(CardDate d) {
        return (d.date() != null ? "date:" : "text:") + d;
    }

    public static void main(String[] args) throws Exception {
        PrintStream out = utf8();
        Edition edition = Edition.valueOf(args[0].toUpperCase(java.util.Locale.ROOT));
        try {
            Card card = CardReader.read(edition, args.length > 2 ? args[2] : null, Integer.parseInt(args[1]));
            out.println("name=" + card.name);
            out.println("sex_code=" + card.sexCode);
            out.println("sex=" + card.sex);
            out.println("nation_code=" + card.nationCode);
            out.println("nation=" + card.nation);
            out.println("address=" + card.address);
            out.println("id_number=" + card.idNumber);
            out.println("authority=" + card.authority);
            out.println("sam=" + card.sam);
            out.println("birth=" + show(card.birth));
            out.println("valid_from=" + show(card.validFrom));
            out.println("valid_to=" + show(card.validTo));
            out.println("appended_address=" + (card.appendedAddress == null ? "none" : "text:" + card.appendedAddress));
            byte[] photo = card.photo();
            StringBuilder head = new StringBuilder();
            for (int i = 0; i < Math.min(30, photo.length); i++) {
                head.append(String.format("%02x", photo[i] & 0xFF));
            }
            out.println("photo=" + photo.length + " " + head);
        } catch (CardException e) {
            out.println("error=" + e.step + "|" + e.call + "|" + e.code + "|" + e.meaning);
            out.println("message=" + e.getMessage());
            out.flush();
            System.exit(3);
        }
        out.flush();
    }

    private static PrintStream utf8() throws UnsupportedEncodingException {
        return new PrintStream(System.out, true, "UTF-8");
    }
}

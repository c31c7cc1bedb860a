// The package's own conversions, without a reader.

import ridel.CardDate;
import ridel.CardReader;
import ridel.Edition;

public final class Tests {
    private static int failures;

    private static void expect(String what, String got, String expected) {
        if (!got.equals(expected)) {
            System.err.println("FAILED: " + what + ": got '" + got + "', expected '" + expected + "'");
            failures++;
        }
    }

    private static String show(CardDate d) {
        return (d.date() != null ? "date:" : "text:") + d;
    }

    public static void main(String[] args) throws Exception {
        // Card dates: a date for eight digits that make one, else the card's text.
        String[][] dates = {{"19880808", "date:1988-08-08"}, {"长期    ", "text:长期"},
            {"19880230", "text:19880230"}, {"1988080", "text:1988080"},
            {"１９８８０８０８", "text:１９８８０８０８"}, {"", "text:"}};
        for (String[] c : dates) {
            expect("CardDate.parse(" + c[0] + ")", show(CardDate.parse(c[0])), c[1]);
        }
        // The QDX edition's date lines.
        String[][] lines = {
            {"1988年08月08日", "2015.01.01-2035.01.01", "date:1988-08-08 date:2015-01-01 date:2035-01-01"},
            {"1988年08月08日", "2015.01.01-长期  .  .  ", "date:1988-08-08 date:2015-01-01 text:长期"},
            {"1988年08月", "2015.01.01-2035", "text:1988年08月 text:2015.01.01-2035 text:2015.01.01-2035"},
            {"1988年02月30日", "2015.01.01-2035.01.01", "text:19880230 date:2015-01-01 date:2035-01-01"}};
        for (String[] c : lines) {
            CardDate[] d = CardReader.qdxDates(c[0], c[1]);
            expect("qdxDates(" + c[0] + ", " + c[1] + ")", show(d[0]) + " " + show(d[1]) + " " + show(d[2]), c[2]);
        }
        // The SDT edition's dashes, taken out of the bytes.
        java.nio.charset.Charset gbk = CardReader.GBK;
        byte[] longTerm = "长期".getBytes(gbk);
        byte[][][] undash = {
            {"1988-08-08".getBytes(gbk), "19880808".getBytes(gbk)},
            {"长期--".getBytes(gbk), longTerm},
            {"--".getBytes(gbk), {}},
            {"2035-0-".getBytes(gbk), "20350".getBytes(gbk)},
            {{'1', longTerm[0], longTerm[1], longTerm[2], '-', longTerm[3], '-'},
             {'1', longTerm[0], longTerm[1], longTerm[2], longTerm[3]}},
            {"19880808".getBytes(gbk), "19880808".getBytes(gbk)},
            {{}, {}}};
        for (byte[][] c : undash) {
            expect("undash(" + java.util.Arrays.toString(c[0]) + ")",
                    java.util.Arrays.toString(CardReader.undash(c[0])), java.util.Arrays.toString(c[1]));
        }
        // Codes from the identity record.
        byte[] record = new byte[256];
        byte[] codes = "936".getBytes("UTF-16LE");
        System.arraycopy(codes, 0, record, 30, codes.length);
        expect("recordCodes", String.join(" ", CardReader.recordCodes(record)), "9 36");
        // Meanings of results.
        Object[][] meanings = {{Edition.SDT, "ReadBaseInfo", -8, "result file"},
            {Edition.SDT, "ReadBaseInfo", -4, "decoder"}, {Edition.SDT, "ReadBaseInfo", -11, "decoder"},
            {Edition.SDT, "ReadBaseInfo", 0, "unknown read type"}, {Edition.SDT, "ReadBaseInfo", 65, "driver's status"},
            {Edition.VANTREL, "Read_Content", 0, "idcrerror.log"}, {Edition.VANTREL, "Read_Content", -3, "decoder"},
            {Edition.QDX, "InitComm", 0, "no reader"}};
        for (Object[] c : meanings) {
            String m = CardReader.meaning((Edition) c[0], (String) c[1], (Integer) c[2]);
            expect(c[0] + " " + c[1] + " " + c[2], m.contains((String) c[3]) ? (String) c[3] : m, (String) c[3]);
        }
        System.out.println(failures == 0 ? "java package tests: ok" : "java package tests: " + failures + " failed");
        System.exit(failures == 0 ? 0 : 1);
    }
}

// The package's own conversions, without a reader.
using System;
using Ridel;

static class Tests
{
    static int failures;

    static void Expect(string what, string got, string expected)
    {
        if (got == expected) return;
        Console.Error.WriteLine("FAILED: " + what + ": got '" + got + "', expected '" + expected + "'");
        failures++;
    }

    static string Show(CardDate d) { return (d.Date.HasValue ? "date:" : "text:") + d; }

    static int Main()
    {
        // Card dates: a date for eight digits that make one, else the card's text.
        foreach (var c in new[] {
            new[] { "19880808", "date:1988-08-08" }, new[] { "长期    ", "text:长期" },
            new[] { "19880230", "text:19880230" }, new[] { "1988080", "text:1988080" },
            new[] { "１９８８０８０８", "text:１９８８０８０８" }, new[] { "", "text:" } })
            Expect("CardDate.Parse(" + c[0] + ")", Show(CardDate.Parse(c[0])), c[1]);

        // The QDX edition's date lines.
        foreach (var c in new[] {
            new[] { "1988年08月08日", "2015.01.01-2035.01.01", "date:1988-08-08 date:2015-01-01 date:2035-01-01" },
            new[] { "1988年08月08日", "2015.01.01-长期  .  .  ", "date:1988-08-08 date:2015-01-01 text:长期" },
            new[] { "1988年08月", "2015.01.01-2035", "text:1988年08月 text:2015.01.01-2035 text:2015.01.01-2035" },
            new[] { "1988年02月30日", "2015.01.01-2035.01.01", "text:19880230 date:2015-01-01 date:2035-01-01" } })
        {
            CardDate[] d = CardReader.QdxDates(c[0], c[1]);
            Expect("QdxDates(" + c[0] + ", " + c[1] + ")", Show(d[0]) + " " + Show(d[1]) + " " + Show(d[2]), c[2]);
        }

        // The SDT edition's dashes, taken out of the bytes.
        var gbk = CardReader.Gbk;
        byte[] longTerm = gbk.GetBytes("长期");
        foreach (var c in new[] {
            Tuple.Create(gbk.GetBytes("1988-08-08"), gbk.GetBytes("19880808")),
            Tuple.Create(gbk.GetBytes("长期--"), longTerm),
            Tuple.Create(gbk.GetBytes("--"), new byte[0]),
            Tuple.Create(gbk.GetBytes("2035-0-"), gbk.GetBytes("20350")),
            Tuple.Create(new byte[] { (byte)'1', longTerm[0], longTerm[1], longTerm[2], (byte)'-', longTerm[3], (byte)'-' },
                         new byte[] { (byte)'1', longTerm[0], longTerm[1], longTerm[2], longTerm[3] }),
            Tuple.Create(gbk.GetBytes("19880808"), gbk.GetBytes("19880808")),
            Tuple.Create(new byte[0], new byte[0]) })
            Expect("Undash(" + BitConverter.ToString(c.Item1) + ")",
                   BitConverter.ToString(CardReader.Undash(c.Item1)), BitConverter.ToString(c.Item2));

        // Codes from the identity record.
        var record = new byte[256];
        System.Text.Encoding.Unicode.GetBytes("936", 0, 3, record, 30);
        Expect("RecordCodes", string.Join(" ", CardReader.RecordCodes(record)), "9 36");

        // Meanings of results.
        foreach (var c in new[] {
            Tuple.Create(Edition.Sdt, "ReadBaseInfo", -8, "result file"), Tuple.Create(Edition.Sdt, "ReadBaseInfo", -4, "decoder"),
            Tuple.Create(Edition.Sdt, "ReadBaseInfo", -11, "decoder"), Tuple.Create(Edition.Sdt, "ReadBaseInfo", 0, "unknown read type"),
            Tuple.Create(Edition.Sdt, "ReadBaseInfo", 65, "driver's status"), Tuple.Create(Edition.Vantrel, "Read_Content", 0, "idcrerror.log"),
            Tuple.Create(Edition.Vantrel, "Read_Content", -3, "decoder"), Tuple.Create(Edition.Qdx, "InitComm", 0, "no reader") })
        {
            string m = CardReader.MeaningOf(c.Item1, c.Item2, c.Item3);
            Expect(c.Item1 + " " + c.Item2 + " " + c.Item3, m.Contains(c.Item4) ? c.Item4 : m, c.Item4);
        }
        Console.WriteLine(failures == 0 ? "dotnet package tests: ok" : "dotnet package tests: " + failures + " failed");
        return failures == 0 ? 0 : 1;
    }
}

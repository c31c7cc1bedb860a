// Reading a card through any edition into a Card of .NET values. The editions hand out text in
// GBK (the ANSI code page of Chinese Windows, always GBK on Linux) and write result files beside
// the process's executable; the reader decodes the one and reads, then removes, the other, so
// that no identity data stays on disk.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.IO;
using System.Linq;
using System.Text;
using System.Text.RegularExpressions;

namespace Ridel
{
    /// <summary>A date of the card, or the card's own text where it holds none (长期 for a
    /// validity without end, or eight digits that make no date).</summary>
    public struct CardDate
    {
        /// <summary>The date, or null where the card holds text.</summary>
        public DateTime? Date { get; private set; }
        /// <summary>The card's text without padding where it holds no date, else null.</summary>
        public string Text { get; private set; }

        /// <summary>A date for eight digits YYYYMMDD that make one, else the text trimmed.</summary>
        public static CardDate Parse(string eightCharacters)
        {
            string text = eightCharacters.Trim();
            DateTime date;
            if (Regex.IsMatch(text, "^[0-9]{8}$") && DateTime.TryParseExact(text, "yyyyMMdd",
                    CultureInfo.InvariantCulture, DateTimeStyles.None, out date))
                return new CardDate { Date = date };
            return new CardDate { Text = text };
        }

        /// <summary>YYYY-MM-DD for a date, else the text.</summary>
        public override string ToString()
        {
            return Date.HasValue ? Date.Value.ToString("yyyy-MM-dd", CultureInfo.InvariantCulture) : Text;
        }
    }

    /// <summary>One card as an edition read it: text in Unicode, the photo as the bytes of a BMP file.</summary>
    public sealed class Card
    {
        /// <summary>The edition that read it.</summary>
        public Edition Edition { get; internal set; }
        /// <summary>The holder's name.</summary>
        public string Name { get; internal set; }
        /// <summary>The card's sex code: 1 male, 2 female, 0 and 9 unknown.</summary>
        public string SexCode { get; internal set; }
        /// <summary>The sex as the edition names it.</summary>
        public string Sex { get; internal set; }
        /// <summary>The card's two-digit nation code.</summary>
        public string NationCode { get; internal set; }
        /// <summary>The nation as the edition names it (SDT: with 族).</summary>
        public string Nation { get; internal set; }
        /// <summary>The birth date.</summary>
        public CardDate Birth { get; internal set; }
        /// <summary>The address.</summary>
        public string Address { get; internal set; }
        /// <summary>The ID number.</summary>
        public string IdNumber { get; internal set; }
        /// <summary>The issuing authority.</summary>
        public string Authority { get; internal set; }
        /// <summary>The first day of validity.</summary>
        public CardDate ValidFrom { get; internal set; }
        /// <summary>The last day of validity, or the card's text (长期).</summary>
        public CardDate ValidTo { get; internal set; }
        /// <summary>The appended address, or null when the card has none.</summary>
        public string AppendedAddress { get; internal set; }
        /// <summary>The photo: the bytes of the bitmap the decoder wrote.</summary>
        public byte[] Photo { get; internal set; }
        /// <summary>The reader's SAM as the edition gives it: QDX its number (the fourth group of
        /// the SAM ID), SDT its identity's 16 bytes in hexadecimal, vantrel the SAM ID text.</summary>
        public string Sam { get; internal set; }
    }

    /// <summary>A failed step of a read: the step, the call, its result and what that means.</summary>
    public sealed class CardException : Exception
    {
        /// <summary>The step: open, authenticate, select, read, appended address, sam.</summary>
        public string Step { get; private set; }
        /// <summary>The export that failed.</summary>
        public string Call { get; private set; }
        /// <summary>Its result.</summary>
        public int Code { get; private set; }
        /// <summary>What the result means for that export.</summary>
        public string Meaning { get; private set; }

        internal CardException(Edition edition, string step, string call, string args, int code)
            : base(Format(edition, step, call, args, code))
        {
            Step = step; Call = call; Code = code; Meaning = CardReader.MeaningOf(edition, call, code);
        }

        static string Format(Edition edition, string step, string call, string args, int code)
        {
            return step + ": " + call + "(" + args + ") returned " + code + ": " +
                   CardReader.MeaningOf(edition, call, code);
        }
    }

    /// <summary>Reads a card through one edition.</summary>
    public static class CardReader
    {
        const string Decoder = "the photo decoder failed";
        // What a failing result means, per edition and export: lowest, highest, meaning.
        static readonly Dictionary<string, Tuple<int, int, string>[]> Meanings =
            new Dictionary<string, Tuple<int, int, string>[]>
        {
            { "Qdx InitComm", Any("no reader on that port, or its SAM is not answering") },
            { "Qdx Authenticate", Any("no card on the reader") },
            { "Qdx QDX_ReadBaseMsg", Any("the card could not be read") },
            { "Qdx Read_Content", Any("the driver refused, a result file could not be written " +
                "beside the process's executable, or " + Decoder) },
            { "Sdt OpenComm", new[] { R(-10, -10, "no reader found (driver status 1)"),
                R(int.MinValue, int.MaxValue, "no reader found (the driver's status)") } },
            { "Sdt SelectCard", new[] { R(0, 0, "no card on the reader"), R(-10, -10, "driver status 1"),
                R(int.MinValue, int.MaxValue, "the card could not be selected (the driver's status)") } },
            { "Sdt ReadBaseInfo", new[] { R(0, 0, "unknown read type"),
                R(-8, -8, "a result file cannot be written beside the process's executable"),
                R(-10, -10, "driver status 1"), R(-11, -11, Decoder), R(-6, -1, Decoder + " (its code)"),
                R(int.MinValue, int.MaxValue, "the driver's status") } },
            { "Sdt GetSamID", Any("the SAM's identity could not be read") },
            { "Vantrel InitComm", Any("no reader on that port, or its SAM is not answering " +
                "(idcrerror.log beside the library says why)") },
            { "Vantrel Authenticate", Any("no card on the reader") },
            { "Vantrel Read_Content", new[] { R(0, 0, "the driver refused or a result file could " +
                "not be written beside the process's executable (idcrerror.log beside the library says why)"),
                R(int.MinValue, int.MaxValue, Decoder + " (its result)") } },
            { "Vantrel GetSAMIDToStr", Any("the driver's status: the SAM ID could not be read") },
        };

        static Tuple<int, int, string> R(int low, int high, string text) { return Tuple.Create(low, high, text); }
        static Tuple<int, int, string>[] Any(string text) { return new[] { R(int.MinValue, int.MaxValue, text) }; }

        /// <summary>What <paramref name="code"/> means as the result of export <paramref name="call"/>.</summary>
        public static string MeaningOf(Edition edition, string call, int code)
        {
            Tuple<int, int, string>[] ranges;
            if (Meanings.TryGetValue(edition + " " + call, out ranges))
                foreach (var r in ranges)
                    if (code >= r.Item1 && code <= r.Item2) return r.Item3;
            return "failed";
        }

        /// <summary>GBK, the editions' text encoding (Mono: libmono-i18n-cjk4.0-cil).</summary>
        public static readonly Encoding Gbk = Encoding.GetEncoding(936);

        /// <summary>Opens the reader on <paramref name="port"/>, reads the card through
        /// <paramref name="edition"/> (from the file <paramref name="library"/>, or found as
        /// <see cref="EditionApi"/> says) and closes the port. The edition writes result files
        /// beside the process's executable (under Mono: the mono executable's folder; run from a
        /// private copy of it); they are removed once read.</summary>
        /// <exception cref="CardException">A call failed.</exception>
        /// <exception cref="IOException">A result file the edition reported written is missing.</exception>
        public static Card Read(Edition edition = Edition.Sdt, string library = null, int port = 1001)
        {
            string folder = Host.ExecutableFolder();
            var written = new List<string>();
            try
            {
                switch (edition)
                {
                    case Edition.Qdx: return ReadQdx(new QdxApi(library), folder, port, written);
                    case Edition.Sdt: return ReadSdt(new SdtApi(library), folder, port, written);
                    default: return ReadVantrel(new VantrelApi(library), folder, port, written);
                }
            }
            finally
            {
                foreach (string name in written) File.Delete(Path.Combine(folder, name));
            }
        }

        static void Check(Edition edition, string step, string call, int result, int ok = 1, params int[] args)
        {
            if (result != ok)
                throw new CardException(edition, step, call, string.Join(", ", args), result);
        }

        /// <summary>The sex and nation codes of a 256-byte identity record (UCS-2 at bytes 30 and 32).</summary>
        public static string[] RecordCodes(byte[] record)
        {
            if (record.Length < 36)
                throw new InvalidDataException("an identity record of " + record.Length + " bytes, 256 expected");
            return new[] { Encoding.Unicode.GetString(record, 30, 2).Trim('\0', ' '),
                           Encoding.Unicode.GetString(record, 32, 4).Trim('\0', ' ') };
        }

        /// <summary>Birth, validity start and end from the QDX edition's text lines, which split
        /// each date's eight characters 4/2/2 as YYYY年MM月DD日 and YYYY.MM.DD-YYYY.MM.DD.</summary>
        public static CardDate[] QdxDates(string birthLine, string validityLine)
        {
            string birth = Split(birthLine, 0, "年月日", 11);
            string start = Split(validityLine, 0, "..-", 21);
            string end = start != null ? Split(validityLine, 11, "..", 21) : null;
            return new[] { CardDate.Parse(birth ?? birthLine), CardDate.Parse(start ?? validityLine),
                           CardDate.Parse(end ?? validityLine) };
        }

        static string Split(string line, int at, string marks, int length)
        {
            if (line.Length != length || line[at + 4] != marks[0] || line[at + 7] != marks[1] ||
                (marks.Length > 2 && line[at + 10] != marks[2]))
                return null;
            return line.Substring(at, 4) + line.Substring(at + 5, 2) + line.Substring(at + 8, 2);
        }

        static Card ReadQdx(QdxApi api, string folder, int port, List<string> written)
        {
            const Edition e = Edition.Qdx;
            Check(e, "open", "InitComm", api.InitComm(port), 1, port);
            try
            {
                Check(e, "authenticate", "Authenticate", api.Authenticate());
                var record = new byte[Sizes.QdxTextRecord];
                var photoRecord = new byte[Sizes.QdxPhotoRecord];
                Check(e, "read", "QDX_ReadBaseMsg", api.QDX_ReadBaseMsg(record, 0, photoRecord, 0, 0));
                string[] codes = RecordCodes(record);
                // Mode 6: the text lines and the photo, in files named after the reader's SAM
                // number. They are found (and removed) also when the read fails half-way.
                var before = NumberedStems(folder);
                int result = api.Read_Content(6);
                string sam = NumberedStems(folder).Where(s => !before.Contains(s))
                    .OrderBy(s => s.Value).Select(s => s.Key).LastOrDefault();
                if (sam != null) written.AddRange(new[] { sam + ".txt", sam + ".wlt", sam + ".bmp" });
                Check(e, "read", "Read_Content", result, 1, 6);
                if (sam == null)
                    throw new FileNotFoundException("no text file named after the SAM number in " + folder);
                string[] lines = Gbk.GetString(File.ReadAllBytes(Path.Combine(folder, sam + ".txt")))
                    .Split(new[] { "\r\n" }, StringSplitOptions.None);
                if (lines.Length < 8)
                    throw new InvalidDataException(sam + ".txt holds " + lines.Length + " lines, 8 expected");
                byte[] photo = File.ReadAllBytes(Path.Combine(folder, sam + ".bmp"));
                written.Add("NEWADDR.txt");
                Check(e, "appended address", "Read_Content", api.Read_Content(3), 1, 3);
                byte[] message = File.ReadAllBytes(Path.Combine(folder, "NEWADDR.txt"));
                string appended = Encoding.Unicode.GetString(message, 0, Math.Min(message.Length, 70) & ~1)
                    .Trim('\0', ' ');
                CardDate[] dates = QdxDates(lines[3], lines[7]);
                return new Card
                {
                    Edition = e, Name = lines[0].TrimEnd(), SexCode = codes[0], Sex = lines[1],
                    NationCode = codes[1], Nation = lines[2], Birth = dates[0],
                    Address = lines[4].TrimEnd(), IdNumber = lines[5].TrimEnd(),
                    Authority = lines[6].TrimEnd(), ValidFrom = dates[1], ValidTo = dates[2],
                    AppendedAddress = appended.Length > 0 ? appended : null, Photo = photo, Sam = sam,
                };
            }
            finally
            {
                api.CloseComm();
            }
        }

        // The QDX edition's SAM-named text files in the folder, with their modification times.
        static List<KeyValuePair<string, DateTime>> NumberedStems(string folder)
        {
            return Directory.GetFiles(folder, "*.txt").Select(p => Path.GetFileNameWithoutExtension(p))
                .Where(s => Regex.IsMatch(s, "^-?[0-9]+$"))
                .Select(s => new KeyValuePair<string, DateTime>(
                    s, File.GetLastWriteTimeUtc(Path.Combine(folder, s + ".txt")))).ToList();
        }

        const int SdtNoAppendedAddress = 0x91;

        /// <summary>A date's bytes as they were on the card, from the SDT edition's form, which
        /// inserts "-" at byte 4 and then at byte 7 (at the end when the value is shorter):
        /// 1988-08-08 gives 19880808, 长期-- gives 长期. A value without those dashes is given
        /// back as it is.</summary>
        public static byte[] Undash(byte[] value)
        {
            int length = value.Length - 2;
            int first = Math.Min(4, length), second = Math.Min(7, length + 1);
            if (length < 0 || value[first] != (byte)'-' || value[second] != (byte)'-') return value;
            return value.Take(first).Concat(value.Skip(first + 1).Take(second - first - 1))
                .Concat(value.Skip(second + 1)).ToArray();
        }

        static readonly string[] SdtFiles = { "wx.txt", "wz.txt", "zp.wlt", "pic.wlt", "zp.bmp", "NewAdd.txt", "NewAdd1.txt" };

        static Card ReadSdt(SdtApi api, string folder, int port, List<string> written)
        {
            const Edition e = Edition.Sdt;
            Check(e, "open", "OpenComm", api.OpenComm(port), 1, port);
            try
            {
                Check(e, "select", "SelectCard", api.SelectCard());
                written.AddRange(SdtFiles);
                Check(e, "read", "ReadBaseInfo", api.ReadBaseInfo(1), 1, 1);
                var buffer = new byte[Sizes.SdtValueBuffer];
                Func<BufferArg, string> text = getter => Gbk.GetString(buffer, 0, getter(buffer));
                Func<BufferArg, CardDate> date = getter =>
                {
                    byte[] value = Undash(buffer.Take(getter(buffer)).ToArray());
                    return CardDate.Parse(Gbk.GetString(value));
                };
                var card = new Card
                {
                    Edition = e, Name = text(api.GetName), Sex = text(api.GetSex), Nation = text(api.GetFolk),
                    Birth = date(api.GetBirth), Address = text(api.GetAddr), IdNumber = text(api.GetIDNum),
                    Authority = text(api.GetDep), ValidFrom = date(api.GetBegin), ValidTo = date(api.GetEnd),
                };
                string[] codes = RecordCodes(File.ReadAllBytes(Path.Combine(folder, "wz.txt")));
                card.SexCode = codes[0];
                card.NationCode = codes[1];
                card.Photo = File.ReadAllBytes(Path.Combine(folder, "zp.bmp"));
                // The driver's 0x91 is a card without an appended address.
                int result = api.ReadBaseInfo(3);
                string appended = "";
                if (result != SdtNoAppendedAddress)
                {
                    Check(e, "appended address", "ReadBaseInfo", result, 1, 3);
                    appended = text(api.GetNewAddr);
                }
                card.AppendedAddress = appended.Length > 0 ? appended : null;
                var sam = new byte[Sizes.SdtSamId];
                Check(e, "sam", "GetSamID", api.GetSamID(sam));
                card.Sam = BitConverter.ToString(sam).Replace("-", "");
                return card;
            }
            finally
            {
                api.CloseComm();
            }
        }

        static readonly string[] VantrelFiles = { "WZ.txt", "XP.wlt", "ZP.wlt", "ZP.bmp" };
        const int VantrelDriverOk = 0x90;

        static Card ReadVantrel(VantrelApi api, string folder, int port, List<string> written)
        {
            const Edition e = Edition.Vantrel;
            Check(e, "open", "InitComm", api.InitComm(port), 1, port);
            try
            {
                Check(e, "authenticate", "Authenticate", api.Authenticate());
                written.AddRange(VantrelFiles);
                Check(e, "read", "Read_Content", api.Read_Content(1), 1, 1);
                // The getters do not terminate their text: the result is its length.
                var buffer = new byte[Sizes.VantrelLongestText + 1];
                Func<BufferSizeArgs, string> text =
                    getter => Gbk.GetString(buffer, 0, Math.Max(getter(buffer, buffer.Length), 0)).TrimEnd();
                var bitmap = new byte[Sizes.VantrelPhotoBmp];
                int photoLength = api.GetPhotoBMP(bitmap, bitmap.Length);
                if (photoLength <= 0)
                    throw new InvalidDataException("GetPhotoBMP gave no bitmap after a successful read");
                string appended = text((b, n) => api.GetAppAddress(1, b, n));
                string[] codes = RecordCodes(File.ReadAllBytes(Path.Combine(folder, "WZ.txt")));
                var sam = new byte[Sizes.VantrelSamIdText];
                Check(e, "sam", "GetSAMIDToStr", api.GetSAMIDToStr(port, sam, 0), VantrelDriverOk, port, 0);
                int samLength = Array.IndexOf(sam, (byte)0);
                return new Card
                {
                    Edition = e, Name = text(api.GetPeopleName), SexCode = codes[0], Sex = text(api.GetPeopleSex),
                    NationCode = codes[1], Nation = text(api.GetPeopleNation),
                    Birth = CardDate.Parse(text(api.GetPeopleBirthday)), Address = text(api.GetPeopleAddress),
                    IdNumber = text(api.GetPeopleIDCode), Authority = text(api.GetDepartment),
                    ValidFrom = CardDate.Parse(text(api.GetStartDate)), ValidTo = CardDate.Parse(text(api.GetEndDate)),
                    AppendedAddress = appended.Length > 0 ? appended : null,
                    Photo = bitmap.Take(photoLength).ToArray(),
                    Sam = Encoding.ASCII.GetString(sam, 0, samLength < 0 ? sam.Length : samLength),
                };
            }
            finally
            {
                api.CloseComm();
            }
        }
    }
}

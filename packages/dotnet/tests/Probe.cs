// Reads a card through the package and prints it for tests/packages/check_packages.py.
//     mono Probe.exe EDITION PORT [LIBRARY]
using System;
using System.Linq;
using System.Text;
using Ridel;

static class Probe
{
    static string Show(CardDate d) { return (d.Date.HasValue ? "date:" : "text:") + d; }

    static int Main(string[] args)
    {
        Console.OutputEncoding = new UTF8Encoding(false);
        var edition = (Edition)Enum.Parse(typeof(Edition), args[0], true);
        try
        {
            Card card = CardReader.Read(edition, args.Length > 2 ? args[2] : null, int.Parse(args[1]));
            Console.WriteLine("name=" + card.Name);
            Console.WriteLine("sex_code=" + card.SexCode);
            Console.WriteLine("sex=" + card.Sex);
            Console.WriteLine("nation_code=" + card.NationCode);
            Console.WriteLine("nation=" + card.Nation);
            Console.WriteLine("address=" + card.Address);
            Console.WriteLine("id_number=" + card.IdNumber);
            Console.WriteLine("authority=" + card.Authority);
            Console.WriteLine("sam=" + card.Sam);
            Console.WriteLine("birth=" + Show(card.Birth));
            Console.WriteLine("valid_from=" + Show(card.ValidFrom));
            Console.WriteLine("valid_to=" + Show(card.ValidTo));
            Console.WriteLine("appended_address=" + (card.AppendedAddress == null ? "none" : "text:" + card.AppendedAddress));
            Console.WriteLine("photo=" + card.Photo.Length + " " +
                string.Concat(card.Photo.Take(30).Select(b => b.ToString("x2"))));
            return 0;
        }
        catch (CardException e)
        {
            Console.WriteLine("error=" + e.Step + "|" + e.Call + "|" + e.Code + "|" + e.Meaning);
            Console.WriteLine("message=" + e.Message);
            return 3;
        }
    }
}

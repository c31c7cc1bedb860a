// Reading a card from C# with P/Invoke through the SDT edition of ridel.dll (32-bit or 64-bit,
// matching the process).
//
// Deploy ridel.dll with the reader's sdtapi.dll and WltRS.dll beside the program. The result files
// (wx.txt, wz.txt, zp.wlt, pic.wlt, zp.bmp) land beside the process's executable: your own .exe
// under .NET Framework on Windows, but the runtime's (mono, dotnet) when a runtime starts the
// program, so run such a program from a private copy of the runtime or an apphost of its own.
//
// .NET SDK: `dotnet new console`, replace Program.cs with this file, set <PlatformTarget>x86
// (x64 for the 64-bit build). Mono: `mcs ReadCard.cs`, then `mono ReadCard.exe`; on Linux ridel
// is libridel.so, found beside ReadCard.exe or on LD_LIBRARY_PATH, the driver and decoder
// (libsdtapi.so, libwltrs.so) beside it or on the loader's path too.
using System;
using System.Runtime.InteropServices;
using System.Text;

static class Ridel
{
    const string Dll = "ridel.dll";
    const CallingConvention Api = CallingConvention.StdCall; // ignored where there is only one

    public const int Ok = 1;
    public const int ReadWithBitmap = 1;
    public const int FileFailed = -8; // a result file cannot be written beside the executable
    public const int ValueBuffer = 134; // holds every value with its zero byte

    [DllImport(Dll, CallingConvention = Api)] public static extern int OpenComm(int port);
    [DllImport(Dll, CallingConvention = Api)] public static extern int CloseComm();
    [DllImport(Dll, CallingConvention = Api)] public static extern int SelectCard();
    [DllImport(Dll, CallingConvention = Api)] public static extern int ReadBaseInfo(int readType);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetName(byte[] text);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetSex(byte[] text);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetFolk(byte[] text);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetBirth(byte[] text);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetAddr(byte[] text);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetIDNum(byte[] text);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetDep(byte[] text);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetBegin(byte[] text);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetEnd(byte[] text);
    [DllImport(Dll, CallingConvention = Api)] public static extern int GetPicPath(byte[] text);
}

sealed class CardReadException : Exception
{
    public CardReadException(string message) : base(message) { }
}

static class Program
{
    // ridel hands out text in the system's ANSI code page: GBK (936) on Chinese Windows, always
    // GBK on Linux. Mono needs its CJK code pages (Debian: libmono-i18n-cjk4.0-cil).
    static Encoding Gbk()
    {
#if NETCOREAPP
        Encoding.RegisterProvider(CodePagesEncodingProvider.Instance);
#endif
        return Encoding.GetEncoding(936);
    }

    static string Value(Func<byte[], int> getter, Encoding gbk)
    {
        var buffer = new byte[Ridel.ValueBuffer];
        return gbk.GetString(buffer, 0, getter(buffer));
    }

    static void Read(int port, Encoding gbk)
    {
        int r = Ridel.OpenComm(port);
        if (r != Ridel.Ok) throw new CardReadException($"OpenComm({port}) returned {r}: no reader found");
        try
        {
            if ((r = Ridel.SelectCard()) != Ridel.Ok)
                throw new CardReadException($"SelectCard() returned {r}: no card on the reader");
            if ((r = Ridel.ReadBaseInfo(Ridel.ReadWithBitmap)) != Ridel.Ok)
                throw new CardReadException($"ReadBaseInfo(1) returned {r}" + (r == Ridel.FileFailed
                    ? ": the result files cannot be written beside the process's executable" : ""));
            Console.WriteLine($"name       {Value(Ridel.GetName, gbk)}");
            Console.WriteLine($"sex        {Value(Ridel.GetSex, gbk)}");
            Console.WriteLine($"nation     {Value(Ridel.GetFolk, gbk)}");
            Console.WriteLine($"birth      {Value(Ridel.GetBirth, gbk)}");
            Console.WriteLine($"address    {Value(Ridel.GetAddr, gbk)}");
            Console.WriteLine($"id number  {Value(Ridel.GetIDNum, gbk)}");
            Console.WriteLine($"authority  {Value(Ridel.GetDep, gbk)}");
            Console.WriteLine($"valid from {Value(Ridel.GetBegin, gbk)}");
            Console.WriteLine($"valid to   {Value(Ridel.GetEnd, gbk)}");
            Console.WriteLine($"photo      {Value(Ridel.GetPicPath, gbk)}");
        }
        finally
        {
            Ridel.CloseComm();
        }
    }

    static int Main(string[] args)
    {
        int port = 1001;
        if (args.Length > 0 && !int.TryParse(args[0], out port))
        {
            Console.Error.WriteLine($"ReadCard: not a port number: {args[0]}");
            return 2;
        }
        Encoding gbk;
        try
        {
            gbk = Gbk();
        }
        catch (NotSupportedException)
        {
            Console.Error.WriteLine("ReadCard: this runtime has no GBK code page (936)");
            return 1;
        }
        try
        {
            Read(port, gbk);
            return 0;
        }
        catch (CardReadException e)
        {
            Console.Error.WriteLine($"ReadCard: {e.Message}");
        }
        catch (DllNotFoundException e)
        {
            Console.Error.WriteLine($"ReadCard: ridel or its driver cannot be loaded: {e.Message}");
        }
        catch (EntryPointNotFoundException e)
        {
            Console.Error.WriteLine($"ReadCard: this ridel is not the SDT edition: {e.Message}");
        }
        return 1;
    }
}

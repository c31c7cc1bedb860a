// Reading a card from C# with P/Invoke through the SDT edition of ridel.dll (32-bit or 64-bit,
// matching the process). Deploy ridel.dll, sdtapi.dll and WltRS.dll beside the program.
// Build: dotnet new console, replace Program.cs with this file, add
//   <PlatformTarget>x86</PlatformTarget> (x64 for the 64-bit build)
// and, on .NET Core, register the GBK code page provider (package System.Text.Encoding.CodePages).
using System;
using System.Runtime.InteropServices;
using System.Text;

static class Ridel
{
    const string Dll = "ridel.dll";

    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int OpenComm(int port);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int CloseComm();
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int SelectCard();
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int ReadBaseInfo(int readType);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetName(byte[] text);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetSex(byte[] text);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetFolk(byte[] text);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetBirth(byte[] text);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetAddr(byte[] text);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetIDNum(byte[] text);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetDep(byte[] text);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetBegin(byte[] text);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetEnd(byte[] text);
    [DllImport(Dll, CallingConvention = CallingConvention.StdCall)] public static extern int GetPicPath(byte[] text);
}

static class Program
{
    static readonly Encoding Gbk = GetGbk();

    static Encoding GetGbk()
    {
        // .NET Framework knows code page 936; .NET Core needs the provider registered first:
        // Encoding.RegisterProvider(CodePagesEncodingProvider.Instance);
        return Encoding.GetEncoding(936);
    }

    static string Value(Func<byte[], int> getter)
    {
        var buffer = new byte[134]; // holds every value with its zero byte
        int length = getter(buffer);
        return Gbk.GetString(buffer, 0, Math.Max(length, 0));
    }

    static int Main(string[] args)
    {
        int port = args.Length > 0 ? int.Parse(args[0]) : 1001;
        int r;
        if ((r = Ridel.OpenComm(port)) != 1) { Console.Error.WriteLine($"OpenComm({port}) returned {r}"); return 1; }
        if ((r = Ridel.SelectCard()) != 1) { Console.Error.WriteLine($"SelectCard() returned {r}"); return 1; }
        if ((r = Ridel.ReadBaseInfo(1)) != 1) { Console.Error.WriteLine($"ReadBaseInfo(1) returned {r}"); return 1; }
        Console.WriteLine($"name       {Value(Ridel.GetName)}");
        Console.WriteLine($"sex        {Value(Ridel.GetSex)}");
        Console.WriteLine($"nation     {Value(Ridel.GetFolk)}");
        Console.WriteLine($"birth      {Value(Ridel.GetBirth)}");
        Console.WriteLine($"address    {Value(Ridel.GetAddr)}");
        Console.WriteLine($"id number  {Value(Ridel.GetIDNum)}");
        Console.WriteLine($"authority  {Value(Ridel.GetDep)}");
        Console.WriteLine($"valid from {Value(Ridel.GetBegin)}");
        Console.WriteLine($"valid to   {Value(Ridel.GetEnd)}");
        Console.WriteLine($"photo      {Value(Ridel.GetPicPath)}");
        Ridel.CloseComm();
        return 0;
    }
}

// The raw API of the three editions: every export declared once, as a delegate bound at run time
// to the library the caller chose. Winapi is stdcall on 32-bit Windows and the platform's one
// convention elsewhere (cdecl on Linux), which is what the editions' WINAPI is.
using System;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;

namespace Ridel
{
    /// <summary>The three editions of the reader interface library.</summary>
    public enum Edition
    {
        /// <summary>The QDX edition of ridel: result files, content modes 1 to 6.</summary>
        Qdx,
        /// <summary>The SDT edition of ridel: zero-terminated getters.</summary>
        Sdt,
        /// <summary>The vantrel edition: getters whose text is not terminated.</summary>
        Vantrel,
    }

#pragma warning disable 1591 // the delegates' names say what they take
    [UnmanagedFunctionPointer(CallingConvention.Winapi)] public delegate int NoArgs();
    [UnmanagedFunctionPointer(CallingConvention.Winapi)] public delegate int IntArg(int value);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)] public delegate int IntIntArgs(int a, int b);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)] public delegate int BufferArg([In, Out] byte[] buffer);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)] public delegate int BufferSizeArgs([In, Out] byte[] buffer, int size);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)] public delegate int IndexBufferSizeArgs(int index, [In, Out] byte[] buffer, int size);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)] public delegate int PortBufferFlagArgs(int port, [In, Out] byte[] buffer, int flag);
    [UnmanagedFunctionPointer(CallingConvention.Winapi)] public delegate int BaseMessageArgs([In, Out] byte[] text, int unused1, [In, Out] byte[] photo, int unused2, int unused3);
#pragma warning restore 1591

    /// <summary>Buffer sizes in bytes, as the editions' headers give them.</summary>
    public static class Sizes
    {
        /// <summary>QDX_ReadBaseMsg's text record.</summary>
        public const int QdxTextRecord = 256;
        /// <summary>QDX_ReadBaseMsg's photo record.</summary>
        public const int QdxPhotoRecord = 1024;
        /// <summary>QDX_GetDllVersion's text, zero-padded.</summary>
        public const int QdxVersionText = 40;
        /// <summary>An SDT getter buffer that holds every value and its zero byte.</summary>
        public const int SdtValueBuffer = 134;
        /// <summary>GetSamID's raw SAM identity.</summary>
        public const int SdtSamId = 16;
        /// <summary>The longest vantrel text value (the address); one byte more keeps a zero after any value.</summary>
        public const int VantrelLongestText = 70;
        /// <summary>The largest bitmap GetPhotoBMP hands out.</summary>
        public const int VantrelPhotoBmp = 102400;
        /// <summary>GetSAMIDToStr's text with its zero byte.</summary>
        public const int VantrelSamIdText = 40;
        /// <summary>ReadMngInfo's record.</summary>
        public const int VantrelManagementInfo = 28;
    }

    /// <summary>Binds every delegate field of a derived class to the export of the same name.
    /// Paths handed to the exports are bytes in the system's ANSI code page, zero-terminated.</summary>
    public abstract class EditionApi
    {
        /// <summary>The edition these exports belong to.</summary>
        public Edition Edition { get; private set; }

        /// <summary>The file the library was loaded from, or the name the loader searched for.</summary>
        public string Library { get; private set; }

        /// <summary>Loads <paramref name="library"/> or, when null, the edition's file name
        /// (<see cref="LibraryFile"/>) beside the application, then through the system's search
        /// (Windows: the executable's folder first; Linux: LD_LIBRARY_PATH and the system's folders).</summary>
        /// <exception cref="DllNotFoundException">The library or what it needs cannot be loaded.</exception>
        /// <exception cref="EntryPointNotFoundException">An export is missing: another edition.</exception>
        protected EditionApi(Edition edition, string library)
        {
            Edition = edition;
            if (library == null)
            {
                string beside = Path.Combine(AppDomain.CurrentDomain.BaseDirectory, LibraryFile(edition));
                library = File.Exists(beside) ? beside : LibraryFile(edition);
            }
            Library = library;
            IntPtr module = Host.Load(library);
            foreach (FieldInfo field in GetType().GetFields(BindingFlags.Public | BindingFlags.Instance))
            {
                if (!typeof(Delegate).IsAssignableFrom(field.FieldType)) continue;
                IntPtr entry = Host.Symbol(module, field.Name);
                if (entry == IntPtr.Zero)
                    throw new EntryPointNotFoundException(library + " has no export " + field.Name +
                        ": it is not the " + edition + " edition");
                field.SetValue(this, Marshal.GetDelegateForFunctionPointer(entry, field.FieldType));
            }
        }

        /// <summary>The file an application loads the edition by: ridel.dll on Windows (the vantrel
        /// edition is deployed under that name too), libridel.so or libvantrel.so on Linux.</summary>
        public static string LibraryFile(Edition edition)
        {
            if (Host.IsWindows) return "ridel.dll";
            return edition == Edition.Vantrel ? "libvantrel.so" : "libridel.so";
        }
    }

#pragma warning disable 1591, 0649 // the exports are documented in the editions' headers; bound by reflection
    /// <summary>Every export of the QDX edition (ridel_qdx.h): results 1 success, 0 failure.</summary>
    public sealed class QdxApi : EditionApi
    {
        /// <summary>Loads the QDX edition; see <see cref="EditionApi"/>.</summary>
        public QdxApi(string library = null) : base(Edition.Qdx, library) { }
        public readonly IntArg InitComm, QDX_InitComm, TC_InitComm;
        public readonly NoArgs CloseComm, QDX_CloseComm, TC_CloseComm;
        public readonly NoArgs Authenticate, QDX_Authenticate, TC_Authenticate;
        public readonly IntArg Read_Content, QDX_Read_Content, TC_Read_Content;
        public readonly IntIntArgs TC_Read_Content_Path;
        public readonly IntArg QDX_Ant;
        public readonly BaseMessageArgs QDX_ReadBaseMsg;
        public readonly BufferArg QDX_GetDllVersion;
    }

    /// <summary>Every export of the SDT edition (ridel_sdt.h). The getters write zero-terminated
    /// text into a buffer of <see cref="Sizes.SdtValueBuffer"/> bytes and return its length.</summary>
    public sealed class SdtApi : EditionApi
    {
        /// <summary>Loads the SDT edition; see <see cref="EditionApi"/>.</summary>
        public SdtApi(string library = null) : base(Edition.Sdt, library) { }
        public readonly IntArg OpenComm, ReadBaseInfo;
        public readonly NoArgs CloseComm, SelectCard;
        public readonly BufferArg GetSamID;
        public readonly BufferArg GetAddr, GetBegin, GetName, GetSex, GetFolk, GetIDNum, GetDep,
            GetBirth, GetEnd, GetNewAddr, GetPicPath;
    }

    /// <summary>Every export of the vantrel edition (vantrel.h). The getters do not terminate
    /// their text: the result is its length, 0 when it did not fit.</summary>
    public sealed class VantrelApi : EditionApi
    {
        /// <summary>Loads the vantrel edition; see <see cref="EditionApi"/>.</summary>
        public VantrelApi(string library = null) : base(Edition.Vantrel, library) { }
        public readonly NoArgs Authenticate, CloseComm;
        public readonly IntArg InitComm, Read_Content;
        public readonly BufferSizeArgs GetPeopleName, GetPeopleSex, GetPeopleNation,
            GetPeopleBirthday, GetPeopleAddress, GetPeopleIDCode, GetDepartment, GetStartDate,
            GetEndDate, GetReserve, GetPhotoBMP;
        public readonly IndexBufferSizeArgs GetAppAddress;
        public readonly BufferArg SetBaseData, SetPhotoData;
        public readonly BufferSizeArgs SetAppAddress;
        public readonly PortBufferFlagArgs ReadMngInfo, GetSAMIDToStr;
    }
#pragma warning restore 1591, 0649

    /// <summary>The operating system's loader and the process's executable.</summary>
    public static class Host
    {
        /// <summary>True on Windows.</summary>
        public static readonly bool IsWindows = Environment.OSVersion.Platform == PlatformID.Win32NT;

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        static extern IntPtr LoadLibraryW(string path);
        [DllImport("kernel32", CharSet = CharSet.Ansi, ExactSpelling = true)]
        static extern IntPtr GetProcAddress(IntPtr module, string name);
        [DllImport("kernel32", CharSet = CharSet.Unicode)]
        static extern int GetModuleFileNameW(IntPtr module, [Out] char[] path, int size);
        [DllImport("libdl.so.2")]
        static extern IntPtr dlopen(string path, int flags);
        [DllImport("libdl.so.2")]
        static extern IntPtr dlsym(IntPtr module, string name);
        [DllImport("libdl.so.2")]
        static extern IntPtr dlerror();
        [DllImport("libc", SetLastError = true)]
        static extern int readlink(string path, [Out] byte[] buffer, IntPtr size);

        internal static IntPtr Load(string path)
        {
            IntPtr module = IsWindows ? LoadLibraryW(path) : dlopen(path, 2 /* RTLD_NOW */);
            if (module != IntPtr.Zero) return module;
            string why = IsWindows ? "Windows error " + Marshal.GetLastWin32Error()
                                   : Marshal.PtrToStringAnsi(dlerror());
            throw new DllNotFoundException(path + " cannot be loaded: " + why);
        }

        internal static IntPtr Symbol(IntPtr module, string name)
        {
            return IsWindows ? GetProcAddress(module, name) : dlsym(module, name);
        }

        /// <summary>The folder of the process's executable, where every edition writes its
        /// result files: under Mono or a runtime host that is the runtime's folder.</summary>
        public static string ExecutableFolder()
        {
            if (IsWindows)
            {
                var path = new char[32768];
                int length = GetModuleFileNameW(IntPtr.Zero, path, path.Length);
                return Path.GetDirectoryName(new string(path, 0, length));
            }
            var link = new byte[4096];
            int size = readlink("/proc/self/exe", link, (IntPtr)link.Length);
            if (size <= 0 || size >= link.Length)
                throw new IOException("/proc/self/exe cannot be read");
            return Path.GetDirectoryName(System.Text.Encoding.UTF8.GetString(link, 0, size));
        }
    }
}

// P/Invoke declarations of Pictor's C interface (PictorC.h) for C# and other .NET languages.
// Copy this file into your project; Pictor.dll goes beside the application's .exe, of the
// same architecture as the process (x64 or x86: an "Any CPU" build must prefer one).
//
// Marshalling, as the C records are laid out:
//  - every function and callback is __cdecl (CallingConvention.Cdecl); keep a reference to
//    each callback delegate for as long as the library may call it;
//  - the records are sequential with natural alignment; the wchar_t arrays are UTF-16
//    (CharSet.Unicode, ByValTStr), and the C bool fields are one byte (UnmanagedType.U1;
//    .NET's default for bool is a 4-byte Win32 BOOL, which would shift every later field);
//  - results are int: Pictor.Ok (0) or a negative Pictor.E* code; PictorDescribeResult
//    and PictorResultName return pointers to the library's own texts (Marshal.PtrToStringAnsi).
using System;
using System.Runtime.InteropServices;

namespace Pictor
{
    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    public struct PictorDescr
    {
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = Native.DescrTextCapacity)] public string FriendlyName;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = Native.DescrTextCapacity)] public string SymbolicLink;
    }

    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    public struct PictorFormat
    {
        public uint FrameSize;
        public uint Height;
        public uint Width;
        public uint YUVMatrix;
        public uint VideoLighting;
        public uint DefaultStride;
        public uint VideoChromaSiting;
        public Guid AMFormatType;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = Native.FormatNameCapacity)] public string AMFormatTypeName;
        public uint FixedSizeSamples;
        public uint VideoNominalRange;
        public uint FrameRate;
        public uint FrameRateLow;
        public uint PixelAspectRatio;
        public uint PixelAspectRatioLow;
        public uint AllSamplesIndependent;
        public uint FrameRateRangeMin;
        public uint FrameRateRangeMinLow;
        public uint SampleSize;
        public uint VideoPrimaries;
        public uint InterlaceMode;
        public uint FrameRateRangeMax;
        public uint FrameRateRangeMaxLow;
        public Guid MajorType;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = Native.FormatNameCapacity)] public string MajorTypeName;
        public Guid SubType;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = Native.FormatNameCapacity)] public string SubTypeName;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct PictorParameter
    {
        public int Value;
        public int Min;
        public int Max;
        public int Step;
        public int Default;
        public int Flags; // 1 automatic, 2 manual
        [MarshalAs(UnmanagedType.U1)] public bool Apply;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct PictorParameters
    {
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = Native.VideoProcAmpCount)] public PictorParameter[] VideoProcAmp;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = Native.CameraControlCount)] public PictorParameter[] CameraControl;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct PictorPreviewImage
    {
        public uint Width;
        public uint Height;
        public uint Stride;
        public IntPtr Data; // first stored row, 4 bytes a pixel (blue, green, red, alpha)
        [MarshalAs(UnmanagedType.U1)] public bool TopDown;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct PictorKeyingParams
    {
        public float Sensitivity;
        public float Smoothing;
        public byte Opacity;
        public int ColorType;    // Native.KeyGreen, KeyBlue or KeyCustom
        public uint CustomColor; // 0xRRGGBB
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct PictorFrameInfo
    {
        public ulong Sequence;
        public long SampleTime; // 100 ns units
        public long DeviceTime;
        public long ReadTime;
        public ulong DroppedBefore;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct PictorCaptureStatus
    {
        public int State; // Native.Capture*
        public int Error; // HRESULT
        public ulong FramesDelivered;
        public ulong FramesDropped;
        public double FrameRate;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct PictorCaptureStatusEx
    {
        public uint Size; // set to Marshal.SizeOf<PictorCaptureStatusEx>() before the call
        public int State;
        public int Error;
        public uint Reserved;
        public ulong FramesDelivered;
        public ulong FramesDropped;
        public double FrameRate;
        public ulong Reconnects;
    }

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate int PictorFrameCallback(uint width, uint height, int topDown, IntPtr pixels, IntPtr context);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate int PictorFrameCallbackEx(ref PictorFrameInfo info, uint width, uint height, int topDown,
                                              IntPtr pixels, IntPtr context);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate int PictorPreviewCallback(uint width, uint height, uint pitch, IntPtr pixels, IntPtr context);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void PictorCameraListCallback(IntPtr context);

    public static class Native
    {
        const string Dll = "Pictor.dll";
        const CallingConvention Cdecl = CallingConvention.Cdecl;

        public const int ApiVersion = 0x00010004; // PICTOR_C_API_VERSION this file was written for

        public const int Ok = 0;
        public const int EInvalidHandle = -1;
        public const int ENullPointer = -2;
        public const int EInvalidArgument = -3;
        public const int EFailed = -4;
        public const int EInCallback = -5;
        public const int EOutOfMemory = -6;
        public const int EInternal = -7;
        public const int EPersonUnavailable = -8;

        public const int DescrTextCapacity = 512;
        public const int FormatNameCapacity = 256;
        public const int VideoProcAmpCount = 10;
        public const int CameraControlCount = 7;

        public const int KeyGreen = 0;
        public const int KeyBlue = 1;
        public const int KeyCustom = 2;
        public const int ConversionSystem = 0;
        public const int ConversionBuiltIn = 1;
        public const int RendererDirect3D9 = 0;
        public const int RendererSoftware = 1;
        public const int KeyingColor = 0;
        public const int KeyingPerson = 1;
        public const int CaptureIdle = 0;
        public const int CaptureRunning = 1;
        public const int CaptureEnded = 2;
        public const int CaptureReconnecting = 3;

        // Library
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorGetApiVersion();
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCanUseMediaFoundation();
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern IntPtr PictorResultName(int result);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern IntPtr PictorDescribeResult(int result);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorLogFormat(ref PictorFormat format);

        // Capture
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCaptureCreate(out IntPtr capture);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCaptureDestroy(IntPtr capture);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCaptureGetCameraCount(IntPtr capture, out int count);
        [DllImport(Dll, CallingConvention = Cdecl)]
        public static extern int PictorCaptureEnumerateCameras(IntPtr capture, [Out] PictorDescr[] cameras, int capacity, out int count);
        [DllImport(Dll, CallingConvention = Cdecl)]
        public static extern int PictorSetCameraListCallback(IntPtr capture, PictorCameraListCallback callback, IntPtr context);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorCaptureGetFormatCount(IntPtr capture, string link, out int count);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorCaptureEnumerateFormats(IntPtr capture, string link, [Out] PictorFormat[] formats, int capacity, out int count);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorCaptureGetFormat(IntPtr capture, string link, int index, out PictorFormat format);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCaptureSetConversion(IntPtr capture, int conversion);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorCaptureStart(IntPtr capture, string link, int formatIndex, int topDown, PictorFrameCallback callback, IntPtr context);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorCaptureStartFormat(IntPtr capture, string link, ref PictorFormat format, int topDown, PictorFrameCallback callback, IntPtr context);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorCaptureStartEx(IntPtr capture, string link, int formatIndex, int topDown, PictorFrameCallbackEx callback, IntPtr context);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCaptureSetAutoReconnect(IntPtr capture, int on);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCaptureStop(IntPtr capture);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCaptureIsActive(IntPtr capture, out int active);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCaptureGetStatus(IntPtr capture, out PictorCaptureStatus status);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorCaptureGetStatusEx(IntPtr capture, ref PictorCaptureStatusEx status);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorCaptureGetParameters(IntPtr capture, string link, out PictorParameters parameters);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorCaptureSetParameters(IntPtr capture, string link, ref PictorParameters parameters);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorCaptureSetDefaultParameters(IntPtr capture, string link);

        // Keyed preview
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewCreate(out IntPtr preview);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewDestroy(IntPtr preview);
        // background and parameters may be IntPtr.Zero (keep the current ones): use the
        // overloads, or pass a pointer made with Marshal.StructureToPtr.
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorPreviewStart(IntPtr preview, string link, int formatIndex, int topDown, IntPtr background, IntPtr parameters, PictorPreviewCallback callback, IntPtr context);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorPreviewStart(IntPtr preview, string link, int formatIndex, int topDown, IntPtr background, ref PictorKeyingParams parameters, PictorPreviewCallback callback, IntPtr context);
        [DllImport(Dll, CallingConvention = Cdecl, CharSet = CharSet.Unicode)]
        public static extern int PictorPreviewStart(IntPtr preview, string link, int formatIndex, int topDown, ref PictorPreviewImage background, ref PictorKeyingParams parameters, PictorPreviewCallback callback, IntPtr context);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetConversion(IntPtr preview, int conversion);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetRenderer(IntPtr preview, int renderer);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetBackground(IntPtr preview, ref PictorPreviewImage image);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetBackground(IntPtr preview, IntPtr image); // IntPtr.Zero removes it
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetSensitivity(IntPtr preview, float sensitivity);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetSmoothing(IntPtr preview, float smoothing);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetOpacity(IntPtr preview, byte opacity);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetKeyColor(IntPtr preview, int colorType, uint customColor);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetKeyingMode(IntPtr preview, int mode);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetSpillSuppression(IntPtr preview, float strength);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetEdgeChoke(IntPtr preview, uint pixels);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSampleKeyColor(IntPtr preview, out uint color);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorDefaultKeyingParams(out PictorKeyingParams parameters);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewStop(IntPtr preview);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewGetStatus(IntPtr preview, ref PictorCaptureStatusEx status);
        [DllImport(Dll, CallingConvention = Cdecl)] public static extern int PictorPreviewSetAutoReconnect(IntPtr preview, int on);

        // A result as text: "PICTOR_E_FAILED", or a sentence for a capture's HRESULT.
        public static string ResultName(int result) => Marshal.PtrToStringAnsi(PictorResultName(result));
        public static string DescribeResult(int hresult) => Marshal.PtrToStringAnsi(PictorDescribeResult(hresult));
    }
}

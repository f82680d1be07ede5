// Captures two seconds from the first camera through Pictor's C interface and prints what
// happened. Build it with Pictor.cs, for the architecture of the Pictor.dll beside it:
//   csc -platform:x64 CaptureSample.cs Pictor.cs     (or a .csproj with <PlatformTarget>x64)
// Run it with Pictor.dll beside the .exe (and, without a camera, the virtual camera's mf.dll).
using System;
using System.Runtime.InteropServices;
using System.Threading;
using Pictor;

static class CaptureSample
{
    static long frames;

    // Runs on the library's thread for every frame: width x height pixels of 4 bytes (blue,
    // green, red, alpha), valid only during the call.
    static int OnFrame(uint width, uint height, int topDown, IntPtr pixels, IntPtr context)
    {
        if (Interlocked.Increment(ref frames) == 1)
            Console.WriteLine($"first frame: {width}x{height}, {(topDown != 0 ? "top row first" : "bottom row first")}, " +
                              $"top-left pixel B={Marshal.ReadByte(pixels, 0)} G={Marshal.ReadByte(pixels, 1)} R={Marshal.ReadByte(pixels, 2)}");
        return 1;
    }

    [MTAThread] // the library never initialises COM: the thread that lists and starts is the host's
    static int Main()
    {
        if ((Native.PictorGetApiVersion() >> 16) != (Native.ApiVersion >> 16)) {
            Console.WriteLine("Pictor.dll has another major interface version");
            return 1;
        }
        if (Native.PictorCanUseMediaFoundation() == 0) {
            Console.WriteLine("Media Foundation is not available (Windows N without the Media Feature Pack?)");
            return 1;
        }
        int result = Native.PictorCaptureCreate(out IntPtr capture);
        if (result != Native.Ok) {
            Console.WriteLine($"PictorCaptureCreate: {Native.ResultName(result)}");
            return 1;
        }
        var cameras = new PictorDescr[8];
        result = Native.PictorCaptureEnumerateCameras(capture, cameras, cameras.Length, out int count);
        Console.WriteLine($"{count} camera(s)");
        if (result != Native.Ok || count == 0) {
            Native.PictorCaptureDestroy(capture);
            return 1;
        }
        Console.WriteLine($"capturing from {cameras[0].FriendlyName}");

        // The delegate is kept in a local that lives past PictorCaptureStop, so the
        // collector cannot take it while the library may call it.
        PictorFrameCallback callback = OnFrame;
        result = Native.PictorCaptureStart(capture, cameras[0].SymbolicLink, 0, 1, callback, IntPtr.Zero);
        if (result == Native.Ok) {
            Thread.Sleep(2000);
            Native.PictorCaptureGetStatus(capture, out PictorCaptureStatus status);
            Native.PictorCaptureStop(capture);
            Console.WriteLine($"state {status.State}, error {Native.DescribeResult(status.Error)}, " +
                              $"{status.FramesDelivered} frames delivered, {status.FramesDropped} dropped, {status.FrameRate:F1} fps");
        } else {
            Console.WriteLine($"PictorCaptureStart: {Native.ResultName(result)}");
        }
        GC.KeepAlive(callback);
        Native.PictorCaptureDestroy(capture);
        return frames > 0 ? 0 : 1;
    }
}

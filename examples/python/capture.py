"""Captures two seconds from the first camera through Pictor's C interface and prints what
happened. Run it with a Python of Pictor.dll's architecture (64-bit Python: the x64
package), on a thread where COM is initialised for the multithreaded apartment:

    python capture.py C:/path/to/pictor/bin/Pictor.dll

Without a camera, the virtual camera's mf.dll must sit beside python.exe (Windows looks
for mf.dll in the executable's folder), so a copy of Python in a folder of its own is the
easier way there.
"""
import ctypes
import sys
import time

import pictor


def main(dll):
    lib = pictor.load(dll)
    if lib.PictorGetApiVersion() >> 16 != pictor.API_VERSION >> 16:
        print("Pictor.dll has another major interface version")
        return 1
    # The library never initialises COM; CoInitializeEx(NULL, COINIT_MULTITHREADED).
    ctypes.windll.ole32.CoInitializeEx(None, 0)
    if not lib.PictorCanUseMediaFoundation():
        print("Media Foundation is not available (Windows N without the Media Feature Pack?)")
        return 1

    capture = pictor.PictorCapture()
    pictor.check(lib.PictorCaptureCreate(ctypes.byref(capture)), lib)
    try:
        cameras = (pictor.PictorDescr * 8)()
        count = ctypes.c_int()
        pictor.check(lib.PictorCaptureEnumerateCameras(capture, cameras, len(cameras), ctypes.byref(count)), lib)
        print(f"{count.value} camera(s)")
        if count.value == 0:
            return 1
        link = pictor.text(cameras[0].SymbolicLink)
        print(f"capturing from {pictor.text(cameras[0].FriendlyName)}")

        frames = [0]

        # Runs on the library's thread for every frame: width x height pixels of 4 bytes
        # (blue, green, red, alpha), valid only during the call.
        def on_frame(width, height, top_down, pixels, context):
            if frames[0] == 0:
                print(f"first frame: {width}x{height}, top-left pixel B={pixels[0]} G={pixels[1]} R={pixels[2]}")
            frames[0] += 1
            return 1

        callback = pictor.PictorFrameCallback(on_frame)  # kept alive until the capture stops
        pictor.check(lib.PictorCaptureStart(capture, link, 0, 1, callback, None), lib)
        time.sleep(2)
        status = pictor.PictorCaptureStatus()
        lib.PictorCaptureGetStatus(capture, ctypes.byref(status))
        lib.PictorCaptureStop(capture)
        print(f"state {status.State}, error {lib.PictorDescribeResult(status.Error).decode()}, "
              f"{status.FramesDelivered} frames delivered, {status.FramesDropped} dropped, "
              f"{status.FrameRate:.1f} fps")
        return 0 if frames[0] > 0 else 1
    finally:
        lib.PictorCaptureDestroy(capture)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "Pictor.dll"))

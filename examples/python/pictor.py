"""Pictor's C interface (PictorC.h) for Python, through ctypes.

    import pictor
    lib = pictor.load("C:/path/to/Pictor.dll")   # a Python of the DLL's architecture
    capture = pictor.PictorCapture()
    pictor.check(lib.PictorCaptureCreate(ctypes.byref(capture)))

Every function and callback is __cdecl: the library is loaded with ctypes.CDLL and the
callbacks are made with the CFUNCTYPE types below (keep a reference to each callback object
for as long as the library may call it). Functions return PICTOR_OK (0) or a negative
PICTOR_E_* code; check() turns a failure into an exception. The records are laid out as the
C ones on Windows: wchar_t is 16-bit there, so the text arrays are WCHAR arrays (ctypes'
c_wchar where it is 16-bit, else 16-bit integers; text() reads either), the bool fields are
one byte (c_bool), and HRESULT is 32-bit.
"""
import ctypes
from ctypes import (CFUNCTYPE, POINTER, Structure, c_bool, c_char_p, c_double, c_float, c_int, c_int32, c_int64,
                    c_ubyte, c_uint, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p, c_wchar_p)

API_VERSION = 0x00010004  # PICTOR_C_API_VERSION this module was written for

PICTOR_OK = 0
PICTOR_E_INVALID_HANDLE = -1
PICTOR_E_NULL_POINTER = -2
PICTOR_E_INVALID_ARGUMENT = -3
PICTOR_E_FAILED = -4
PICTOR_E_IN_CALLBACK = -5
PICTOR_E_OUT_OF_MEMORY = -6
PICTOR_E_INTERNAL = -7
PICTOR_E_PERSON_UNAVAILABLE = -8

PICTOR_DESCR_TEXT_CAPACITY = 512
PICTOR_FORMAT_NAME_CAPACITY = 256
PICTOR_VIDEO_PROC_AMP_COUNT = 10
PICTOR_CAMERA_CONTROL_COUNT = 7

PICTOR_KEY_GREEN, PICTOR_KEY_BLUE, PICTOR_KEY_CUSTOM = 0, 1, 2
PICTOR_CONVERSION_SYSTEM, PICTOR_CONVERSION_BUILT_IN = 0, 1
PICTOR_RENDERER_DIRECT3D9, PICTOR_RENDERER_SOFTWARE = 0, 1
PICTOR_KEYING_COLOR, PICTOR_KEYING_PERSON = 0, 1
PICTOR_CAPTURE_IDLE, PICTOR_CAPTURE_RUNNING, PICTOR_CAPTURE_ENDED, PICTOR_CAPTURE_RECONNECTING = 0, 1, 2, 3
PICTOR_CAPTURE_STATUS_EX_MIN_SIZE = 48

# Windows' wchar_t: 16-bit. ctypes.c_wchar is 32-bit on Linux and macOS, where the records
# are still laid out as on Windows (for checks and tools that read them).
WCHAR = ctypes.c_wchar if ctypes.sizeof(ctypes.c_wchar) == 2 else c_uint16
HRESULT = c_int32


def text(field):
    """The text of a WCHAR array field, up to its first NUL."""
    if isinstance(field, str):  # ctypes reads a c_wchar array field as text already
        return field
    return bytes(field).decode("utf-16-le").split("\0", 1)[0]


class GUID(Structure):
    _fields_ = [("Data1", c_uint32), ("Data2", c_uint16), ("Data3", c_uint16), ("Data4", c_uint8 * 8)]


class PictorDescr(Structure):
    _fields_ = [("FriendlyName", WCHAR * PICTOR_DESCR_TEXT_CAPACITY),
                ("SymbolicLink", WCHAR * PICTOR_DESCR_TEXT_CAPACITY)]


class PictorFormat(Structure):
    _fields_ = [("FrameSize", c_uint32), ("Height", c_uint32), ("Width", c_uint32), ("YUVMatrix", c_uint32),
                ("VideoLighting", c_uint32), ("DefaultStride", c_uint32), ("VideoChromaSiting", c_uint32),
                ("AMFormatType", GUID), ("AMFormatTypeName", WCHAR * PICTOR_FORMAT_NAME_CAPACITY),
                ("FixedSizeSamples", c_uint32), ("VideoNominalRange", c_uint32), ("FrameRate", c_uint32),
                ("FrameRateLow", c_uint32), ("PixelAspectRatio", c_uint32), ("PixelAspectRatioLow", c_uint32),
                ("AllSamplesIndependent", c_uint32), ("FrameRateRangeMin", c_uint32),
                ("FrameRateRangeMinLow", c_uint32), ("SampleSize", c_uint32), ("VideoPrimaries", c_uint32),
                ("InterlaceMode", c_uint32), ("FrameRateRangeMax", c_uint32), ("FrameRateRangeMaxLow", c_uint32),
                ("MajorType", GUID), ("MajorTypeName", WCHAR * PICTOR_FORMAT_NAME_CAPACITY),
                ("SubType", GUID), ("SubTypeName", WCHAR * PICTOR_FORMAT_NAME_CAPACITY)]


class PictorParameter(Structure):
    _fields_ = [("Value", c_int32), ("Min", c_int32), ("Max", c_int32), ("Step", c_int32), ("Default", c_int32),
                ("Flags", c_int32), ("Apply", c_bool)]


class PictorParameters(Structure):
    _fields_ = [("VideoProcAmp", PictorParameter * PICTOR_VIDEO_PROC_AMP_COUNT),
                ("CameraControl", PictorParameter * PICTOR_CAMERA_CONTROL_COUNT)]


class PictorPreviewImage(Structure):
    _fields_ = [("Width", c_uint32), ("Height", c_uint32), ("Stride", c_uint32), ("Data", POINTER(c_ubyte)),
                ("TopDown", c_bool)]


class PictorKeyingParams(Structure):
    _fields_ = [("Sensitivity", c_float), ("Smoothing", c_float), ("Opacity", c_uint8), ("ColorType", c_int32),
                ("CustomColor", c_uint32)]


class PictorFrameInfo(Structure):
    _fields_ = [("Sequence", c_uint64), ("SampleTime", c_int64), ("DeviceTime", c_int64), ("ReadTime", c_int64),
                ("DroppedBefore", c_uint64)]


class PictorCaptureStatus(Structure):
    _fields_ = [("State", c_int32), ("Error", HRESULT), ("FramesDelivered", c_uint64), ("FramesDropped", c_uint64),
                ("FrameRate", c_double)]


class PictorCaptureStatusEx(Structure):
    _fields_ = [("Size", c_uint32), ("State", c_int32), ("Error", HRESULT), ("Reserved", c_uint32),
                ("FramesDelivered", c_uint64), ("FramesDropped", c_uint64), ("FrameRate", c_double),
                ("Reconnects", c_uint64)]


# Opaque handles.
PictorCapture = c_void_p
PictorPreview = c_void_p

# Callbacks (CFUNCTYPE: __cdecl).
PictorFrameCallback = CFUNCTYPE(c_int, c_uint, c_uint, c_int, POINTER(c_ubyte), c_void_p)
PictorFrameCallbackEx = CFUNCTYPE(c_int, POINTER(PictorFrameInfo), c_uint, c_uint, c_int, POINTER(c_ubyte), c_void_p)
PictorPreviewCallback = CFUNCTYPE(c_int, c_uint, c_uint, c_uint, POINTER(c_ubyte), c_void_p)
PictorCameraListCallback = CFUNCTYPE(None, c_void_p)

_H = c_void_p
_I = POINTER(c_int)
# name: (result type, argument types), as PictorC.h declares them.
FUNCTIONS = {
    "PictorGetApiVersion": (c_int, []),
    "PictorCanUseMediaFoundation": (c_int, []),
    "PictorResultName": (c_char_p, [c_int]),
    "PictorDescribeResult": (c_char_p, [HRESULT]),
    "PictorLogFormat": (c_int, [POINTER(PictorFormat)]),
    "PictorCaptureCreate": (c_int, [POINTER(_H)]),
    "PictorCaptureDestroy": (c_int, [_H]),
    "PictorCaptureGetCameraCount": (c_int, [_H, _I]),
    "PictorCaptureEnumerateCameras": (c_int, [_H, POINTER(PictorDescr), c_int, _I]),
    "PictorSetCameraListCallback": (c_int, [_H, PictorCameraListCallback, c_void_p]),
    "PictorCaptureGetFormatCount": (c_int, [_H, c_wchar_p, _I]),
    "PictorCaptureEnumerateFormats": (c_int, [_H, c_wchar_p, POINTER(PictorFormat), c_int, _I]),
    "PictorCaptureGetFormat": (c_int, [_H, c_wchar_p, c_int, POINTER(PictorFormat)]),
    "PictorCaptureSetConversion": (c_int, [_H, c_int]),
    "PictorCaptureStart": (c_int, [_H, c_wchar_p, c_int, c_int, PictorFrameCallback, c_void_p]),
    "PictorCaptureStartFormat": (c_int, [_H, c_wchar_p, POINTER(PictorFormat), c_int, PictorFrameCallback, c_void_p]),
    "PictorCaptureStartEx": (c_int, [_H, c_wchar_p, c_int, c_int, PictorFrameCallbackEx, c_void_p]),
    "PictorCaptureSetAutoReconnect": (c_int, [_H, c_int]),
    "PictorCaptureStop": (c_int, [_H]),
    "PictorCaptureIsActive": (c_int, [_H, _I]),
    "PictorCaptureGetStatus": (c_int, [_H, POINTER(PictorCaptureStatus)]),
    "PictorCaptureGetStatusEx": (c_int, [_H, POINTER(PictorCaptureStatusEx)]),
    "PictorCaptureGetParameters": (c_int, [_H, c_wchar_p, POINTER(PictorParameters)]),
    "PictorCaptureSetParameters": (c_int, [_H, c_wchar_p, POINTER(PictorParameters)]),
    "PictorCaptureSetDefaultParameters": (c_int, [_H, c_wchar_p]),
    "PictorPreviewCreate": (c_int, [POINTER(_H)]),
    "PictorPreviewDestroy": (c_int, [_H]),
    "PictorPreviewStart": (c_int, [_H, c_wchar_p, c_int, c_int, POINTER(PictorPreviewImage),
                                   POINTER(PictorKeyingParams), PictorPreviewCallback, c_void_p]),
    "PictorPreviewSetConversion": (c_int, [_H, c_int]),
    "PictorPreviewSetRenderer": (c_int, [_H, c_int]),
    "PictorPreviewSetBackground": (c_int, [_H, POINTER(PictorPreviewImage)]),
    "PictorPreviewSetSensitivity": (c_int, [_H, c_float]),
    "PictorPreviewSetSmoothing": (c_int, [_H, c_float]),
    "PictorPreviewSetOpacity": (c_int, [_H, c_ubyte]),
    "PictorPreviewSetKeyColor": (c_int, [_H, c_int, c_uint]),
    "PictorPreviewSetKeyingMode": (c_int, [_H, c_int]),
    "PictorPreviewSetSpillSuppression": (c_int, [_H, c_float]),
    "PictorPreviewSetEdgeChoke": (c_int, [_H, c_uint]),
    "PictorPreviewSampleKeyColor": (c_int, [_H, POINTER(c_uint)]),
    "PictorDefaultKeyingParams": (c_int, [POINTER(PictorKeyingParams)]),
    "PictorPreviewStop": (c_int, [_H]),
    "PictorPreviewGetStatus": (c_int, [_H, POINTER(PictorCaptureStatusEx)]),
    "PictorPreviewSetAutoReconnect": (c_int, [_H, c_int]),
}


def load(path="Pictor.dll"):
    """Loads Pictor.dll (CDLL: __cdecl) and gives every function its prototype."""
    lib = ctypes.CDLL(path)
    for name, (restype, argtypes) in FUNCTIONS.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


class PictorError(Exception):
    pass


def check(result, lib=None):
    """Raises PictorError for a negative result (named through lib.PictorResultName if given)."""
    if result < 0:
        name = lib.PictorResultName(result).decode() if lib else str(result)
        raise PictorError(name)
    return result

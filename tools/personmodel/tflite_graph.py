"""Reads the parts of a TensorFlow Lite model (a FlatBuffer) that a plain convolutional graph
uses: tensors with their constant data, and operators with their options. Field numbers are
those of TensorFlow Lite's public schema (schema.fbs)."""

import struct
from dataclasses import dataclass, field

import numpy as np
from flatbuffers import table

# BuiltinOperator codes.
OPS = {0: "ADD", 1: "AVERAGE_POOL_2D", 3: "CONV_2D", 4: "DEPTHWISE_CONV_2D", 6: "DEQUANTIZE", 14: "LOGISTIC",
       18: "MUL", 19: "RELU", 23: "RESIZE_BILINEAR", 32: "CUSTOM", 40: "MEAN", 117: "HARD_SWISH"}
# TensorType codes.
DTYPES = {0: np.float32, 1: np.float16, 2: np.int32, 3: np.uint8, 4: np.int64, 9: np.int8}
# Fused activations.
ACTIVATIONS = {0: None, 1: "RELU", 3: "RELU6"}


class _Table:
    def __init__(self, buf, pos):
        self.t = table.Table(buf, pos)

    def _offset(self, slot):
        return self.t.Offset(4 + 2 * slot)

    def scalar(self, slot, fmt, default=0):
        o = self._offset(slot)
        if not o:
            return default
        return struct.unpack_from("<" + fmt, self.t.Bytes, self.t.Pos + o)[0]

    def string(self, slot):
        o = self._offset(slot)
        return self.t.String(self.t.Pos + o).decode() if o else None

    def vector(self, slot, fmt):
        o = self._offset(slot)
        if not o:
            return []
        n = self.t.VectorLen(o)
        start = self.t.Vector(o)
        return list(struct.unpack_from("<%d%s" % (n, fmt), self.t.Bytes, start))

    def bytes(self, slot):
        o = self._offset(slot)
        if not o:
            return b""
        start = self.t.Vector(o)
        return bytes(self.t.Bytes[start:start + self.t.VectorLen(o)])

    def tables(self, slot):
        o = self._offset(slot)
        if not o:
            return []
        start = self.t.Vector(o)
        return [_Table(self.t.Bytes, self.t.Indirect(start + 4 * i)) for i in range(self.t.VectorLen(o))]

    def table(self, slot):
        o = self._offset(slot)
        return _Table(self.t.Bytes, self.t.Indirect(self.t.Pos + o)) if o else None


@dataclass
class Tensor:
    name: str
    shape: list
    dtype: type
    data: np.ndarray = None  # constant data, or None for activations


@dataclass
class Operator:
    kind: str                # builtin name, or the custom code
    inputs: list
    outputs: list
    options: dict = field(default_factory=dict)


def _options(kind, t, custom):
    """The options an operator of this kind carries, with the schema's defaults."""
    if t is None and not custom:
        return {}
    if kind == "CONV_2D":
        return dict(padding=t.scalar(0, "b"), stride=(t.scalar(2, "i"), t.scalar(1, "i")),
                    activation=t.scalar(3, "b"), dilation=(t.scalar(5, "i", 1), t.scalar(4, "i", 1)))
    if kind == "DEPTHWISE_CONV_2D":
        return dict(padding=t.scalar(0, "b"), stride=(t.scalar(2, "i"), t.scalar(1, "i")),
                    multiplier=t.scalar(3, "i"), activation=t.scalar(4, "b"),
                    dilation=(t.scalar(6, "i", 1), t.scalar(5, "i", 1)))
    if kind in ("AVERAGE_POOL_2D", "MAX_POOL_2D"):
        return dict(padding=t.scalar(0, "b"), stride=(t.scalar(2, "i"), t.scalar(1, "i")),
                    filter=(t.scalar(4, "i"), t.scalar(3, "i")), activation=t.scalar(5, "b"))
    if kind in ("ADD", "MUL", "SUB"):
        return dict(activation=t.scalar(0, "b")) if t else dict(activation=0)
    if kind == "RESIZE_BILINEAR":
        return dict(align_corners=bool(t.scalar(2, "b")), half_pixel_centers=bool(t.scalar(3, "b"))) if t else \
            dict(align_corners=False, half_pixel_centers=False)
    if kind == "MEAN":
        return dict(keep_dims=bool(t.scalar(0, "b"))) if t else dict(keep_dims=False)
    if kind == "Convolution2DTransposeBias":
        # MediaPipe's custom options: the raw TfLiteTransposeConvParams, padding (1 same,
        # 2 valid), stride width, stride height; as padding codes here 0 same, 1 valid.
        padding, sw, sh = struct.unpack_from("<3i", custom)
        return dict(padding=0 if padding == 1 else 1, stride=(sh, sw))
    return {}


def load(path):
    """Returns (tensors, operators, input indices, output indices) of the first subgraph."""
    with open(path, "rb") as f:
        buf = bytearray(f.read())
    root = struct.unpack_from("<I", buf, 0)[0]
    model = _Table(buf, root)
    codes = []
    for c in model.tables(1):
        code = max(c.scalar(0, "b"), c.scalar(3, "i"))
        codes.append(c.string(1) if code == 32 else OPS.get(code, "op%d" % code))
    buffers = [b.bytes(0) for b in model.tables(4)]
    graph = model.tables(2)[0]
    tensors = []
    for t in graph.tables(0):
        dtype = DTYPES[t.scalar(1, "b")]
        shape = t.vector(0, "i")
        raw = buffers[t.scalar(2, "I")]
        data = np.frombuffer(raw, dtype=dtype).reshape(shape).copy() if raw else None
        tensors.append(Tensor(t.string(3), shape, dtype, data))
    operators = []
    for o in graph.tables(3):
        kind = codes[o.scalar(0, "I")]
        operators.append(Operator(kind, o.vector(1, "i"), o.vector(2, "i"),
                                  _options(kind, o.table(4), o.bytes(5))))
    return tensors, operators, graph.vector(1, "i"), graph.vector(2, "i")

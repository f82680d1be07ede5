"""The person mask of a photograph, computed from the TensorFlow Lite model itself with a
small numpy interpreter of its graph: no converter, no inference runtime. Tests hold the
library's kept region against it.

usage: reference_mask.py MODEL.tflite PICTURE.png WIDTH HEIGHT OUT.pgm

The picture is shown as the virtual camera shows it (scaled to fit WIDTH x HEIGHT with its
aspect ratio kept, centred on black), averaged down to the model's input, run through the
model, and the person probability brought back to WIDTH x HEIGHT bilinearly; OUT.pgm holds
255 where it is at least one half, else 0."""

import sys

import numpy as np
from skimage import io

import tflite_graph


def same_pads(size, k, stride):
    out = -(-size // stride)
    total = max((out - 1) * stride + k - size, 0)
    return total // 2, total - total // 2


def pad_input(x, kh, kw, stride, padding):
    if padding == 1:  # valid
        return x
    (t, b), (l, r) = same_pads(x.shape[1], kh, stride[0]), same_pads(x.shape[2], kw, stride[1])
    return np.pad(x, ((0, 0), (t, b), (l, r), (0, 0)))


def windows(x, kh, kw, stride):
    """N x OH x OW x KH x KW x C views of the kh x kw windows."""
    n, h, w, c = x.shape
    oh, ow = (h - kh) // stride[0] + 1, (w - kw) // stride[1] + 1
    s = x.strides
    return np.lib.stride_tricks.as_strided(
        x, (n, oh, ow, kh, kw, c), (s[0], s[1] * stride[0], s[2] * stride[1], s[1], s[2], s[3]))


def activate(x, code):
    if code == 1:
        return np.maximum(x, 0)
    if code == 3:
        return np.clip(x, 0, 6)
    assert code == 0, "activation %d" % code
    return x


def conv(x, w, b, o):  # w: O x KH x KW x I
    _, kh, kw, _ = w.shape
    win = windows(pad_input(x, kh, kw, o["stride"], o["padding"]), kh, kw, o["stride"])
    return activate(np.tensordot(win, w, axes=([3, 4, 5], [1, 2, 3])) + b, o["activation"])


def depthwise(x, w, b, o):  # w: 1 x KH x KW x C
    assert o["multiplier"] == 1
    _, kh, kw, _ = w.shape
    win = windows(pad_input(x, kh, kw, o["stride"], o["padding"]), kh, kw, o["stride"])
    return activate(np.einsum("nhwijc,ijc->nhwc", win, w[0]) + b, o["activation"])


def average_pool(x, o):
    kh, kw = o["filter"]
    ones = np.ones(x.shape[:3] + (1,), x.dtype)
    sums = windows(pad_input(x, kh, kw, o["stride"], o["padding"]), kh, kw, o["stride"]).sum(axis=(3, 4))
    counts = windows(pad_input(ones, kh, kw, o["stride"], o["padding"]), kh, kw, o["stride"]).sum(axis=(3, 4))
    return activate(sums / counts, o["activation"])


def resize_bilinear(x, size, o):
    n, h, w, c = x.shape
    oh, ow = int(size[0]), int(size[1])

    def coords(out, inp):
        i = np.arange(out, dtype=np.float64)
        if o["align_corners"] and out > 1:
            src = i * (inp - 1) / (out - 1)
        elif o["half_pixel_centers"]:
            src = np.maximum((i + 0.5) * inp / out - 0.5, 0)
        else:
            src = i * inp / out
        lo = np.minimum(np.floor(src).astype(int), inp - 1)
        return lo, np.minimum(lo + 1, inp - 1), (src - lo)

    y0, y1, fy = coords(oh, h)
    x0, x1, fx = coords(ow, w)
    fy, fx = fy[None, :, None, None], fx[None, None, :, None]
    top = x[:, y0][:, :, x0] * (1 - fx) + x[:, y0][:, :, x1] * fx
    bottom = x[:, y1][:, :, x0] * (1 - fx) + x[:, y1][:, :, x1] * fx
    return (top * (1 - fy) + bottom * fy).astype(x.dtype)


def transpose_conv_bias(x, w, b, o):  # w: O x KH x KW x I
    n, h, wd, _ = x.shape
    co, kh, kw, _ = w.shape
    sh, sw = o["stride"]
    full = np.zeros((n, (h - 1) * sh + kh, (wd - 1) * sw + kw, co), np.float32)
    for i in range(kh):
        for j in range(kw):
            full[:, i:i + (h - 1) * sh + 1:sh, j:j + (wd - 1) * sw + 1:sw] += np.tensordot(x, w[:, i, j, :], axes=([3], [1]))
    oh, ow = (h * sh, wd * sw) if o["padding"] == 0 else full.shape[1:3]
    top, left = (full.shape[1] - oh) // 2, (full.shape[2] - ow) // 2
    return full[:, top:top + oh, left:left + ow] + b


def run(path, image):
    tensors, operators, inputs, outputs = tflite_graph.load(path)
    values = {i: t.data.astype(np.float32) if t.data is not None and t.dtype == np.float32 else t.data
              for i, t in enumerate(tensors)}
    values[inputs[0]] = image[None].astype(np.float32)
    for op in operators:
        a = [values[i] for i in op.inputs]
        k, o = op.kind, op.options
        if k == "DEQUANTIZE":
            r = a[0].astype(np.float32)
        elif k == "CONV_2D":
            r = conv(a[0], a[1], a[2], o)
        elif k == "DEPTHWISE_CONV_2D":
            r = depthwise(a[0], a[1], a[2], o)
        elif k == "HARD_SWISH":
            r = a[0] * np.clip(a[0] + 3, 0, 6) / 6
        elif k == "RELU":
            r = np.maximum(a[0], 0)
        elif k == "LOGISTIC":
            r = 1 / (1 + np.exp(-a[0]))
        elif k == "ADD":
            r = activate(a[0] + a[1], o["activation"])
        elif k == "MUL":
            r = activate(a[0] * a[1], o["activation"])
        elif k == "MEAN":
            r = a[0].mean(axis=tuple(int(v) for v in a[1]), keepdims=o["keep_dims"])
        elif k == "AVERAGE_POOL_2D":
            r = average_pool(a[0], o)
        elif k == "RESIZE_BILINEAR":
            r = resize_bilinear(a[0], a[1], o)
        elif k == "Convolution2DTransposeBias":
            r = transpose_conv_bias(a[0], a[1], a[2], o)
        else:
            raise SystemExit("operator %s is not interpreted" % k)
        values[op.outputs[0]] = r.astype(np.float32)
    return values[outputs[0]][0, :, :, 0], tensors[inputs[0]].shape[1:3]


def letterbox(picture, width, height):
    """Bilinear scale to fit, centred on black (pixel centres mapped onto pixel centres)."""
    ph, pw = picture.shape[:2]
    scale = min(width / pw, height / ph)
    sw, sh = max(1, round(pw * scale)), max(1, round(ph * scale))
    ys = np.clip((np.arange(sh) + 0.5) * ph / sh - 0.5, 0, ph - 1)
    xs = np.clip((np.arange(sw) + 0.5) * pw / sw - 0.5, 0, pw - 1)
    y0, x0 = np.floor(ys).astype(int), np.floor(xs).astype(int)
    y1, x1 = np.minimum(y0 + 1, ph - 1), np.minimum(x0 + 1, pw - 1)
    fy, fx = (ys - y0)[:, None, None], (xs - x0)[None, :, None]
    p = picture.astype(np.float64)
    scaled = (p[y0][:, x0] * (1 - fx) + p[y0][:, x1] * fx) * (1 - fy) + (p[y1][:, x0] * (1 - fx) + p[y1][:, x1] * fx) * fy
    frame = np.zeros((height, width, 3))
    top, left = (height - sh) // 2, (width - sw) // 2
    frame[top:top + sh, left:left + sw] = scaled
    return frame


def area_average(frame, oh, ow):
    """Each output pixel the mean of the input area it covers (fractional edges weighted)."""
    def weights(n, m):
        w = np.zeros((m, n))
        for i in range(m):
            a, b = i * n / m, (i + 1) * n / m
            for j in range(int(a), min(int(np.ceil(b)), n)):
                w[i, j] = min(b, j + 1) - max(a, j)
        return w / w.sum(axis=1, keepdims=True)
    wy, wx = weights(frame.shape[0], oh), weights(frame.shape[1], ow)
    return np.einsum("xj,yjc->yxc", wx, np.einsum("yi,ijc->yjc", wy, frame))


def main():
    model, picture, width, height, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
    rgb = io.imread(picture)[:, :, :3]
    frame = letterbox(rgb, width, height)
    tensors, _, inputs, _ = tflite_graph.load(model)
    mh, mw = tensors[inputs[0]].shape[1:3]
    probability, _ = run(model, area_average(frame, mh, mw) / 255.0)
    full = resize_bilinear(probability[None, :, :, None], (height, width),
                           dict(align_corners=False, half_pixel_centers=True))[0, :, :, 0]
    with open(out, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (width, height))
        f.write(np.where(full >= 0.5, 255, 0).astype(np.uint8).tobytes())
    kept = (full >= 0.5).mean()
    print("%s: %.1f%% of the frame kept" % (out, 100 * kept))


if __name__ == "__main__":
    main()

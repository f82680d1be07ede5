"""Converts the selfie segmentation TensorFlow Lite model to ONNX for the inference runtime.

usage: tflite_to_onnx.py MODEL.tflite OUT.onnx

The ONNX model takes "input", 1 x 3 x H x W floats (planes red, green, blue, 0..1), and gives
"mask", 1 x 1 x H x W person probabilities. Activations are laid out NCHW: the converter
transposes weights instead of data. Half-precision weights become single precision, and
MediaPipe's Convolution2DTransposeBias becomes a ConvTranspose with its bias."""

import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

import tflite_graph

OPSET = 14  # HardSwish; ReduceMean still takes its axes as an attribute
NHWC_TO_NCHW_AXIS = {0: 0, 1: 2, 2: 3, 3: 1}


class Converter:
    def __init__(self, tensors):
        self.tensors = tensors
        self.constants = {i: t.data.astype(np.float32) if t.data is not None and t.data.dtype == np.float16 else t.data
                          for i, t in enumerate(tensors)}
        self.nodes, self.initializers = [], []

    def name(self, i):
        return "t%d" % i

    def constant(self, array, name):
        self.initializers.append(numpy_helper.from_array(np.ascontiguousarray(array), name))
        return name

    def activation(self, out, code):
        """The node's own output name; a fused activation follows as a node of its own."""
        if code == 0:
            return out
        raw = out + "_linear"
        if code == 1:
            self.nodes.append(helper.make_node("Relu", [raw], [out]))
        elif code == 3:
            self.nodes.append(helper.make_node("Clip", [raw, self.constant(np.float32(0), out + "_lo"),
                                                        self.constant(np.float32(6), out + "_hi")], [out]))
        else:
            raise SystemExit("fused activation %d is not converted" % code)
        return raw

    def same_pads(self, size, k, stride, dilation=1):
        out = -(-size // stride)
        total = max((out - 1) * stride + (k - 1) * dilation + 1 - size, 0)
        return total // 2, total - total // 2

    def spatial(self, op, kh, kw, dilation=(1, 1)):
        h, w = self.tensors[op.inputs[0]].shape[1:3]
        if op.options["padding"] == 1:
            pads = [0, 0, 0, 0]
        else:
            (t, b), (l, r) = (self.same_pads(h, kh, op.options["stride"][0], dilation[0]),
                              self.same_pads(w, kw, op.options["stride"][1], dilation[1]))
            pads = [t, l, b, r]
        return dict(strides=list(op.options["stride"]), pads=pads)

    def convert(self, op):
        k, o = op.kind, op.options
        ins = [self.name(i) for i in op.inputs]
        out = self.name(op.outputs[0])
        if k == "DEQUANTIZE":  # constant weights: folded
            self.constants[op.outputs[0]] = self.constants[op.inputs[0]].astype(np.float32)
        elif k in ("CONV_2D", "DEPTHWISE_CONV_2D"):
            w, b = self.constants[op.inputs[1]], self.constants[op.inputs[2]]
            if k == "CONV_2D":  # O x KH x KW x I -> O x I x KH x KW
                weights, group = w.transpose(0, 3, 1, 2), 1
            else:  # 1 x KH x KW x C -> C x 1 x KH x KW
                weights, group = w.transpose(3, 0, 1, 2), self.tensors[op.inputs[0]].shape[3]
            attrs = self.spatial(op, w.shape[1], w.shape[2], o["dilation"])
            self.nodes.append(helper.make_node(
                "Conv", [ins[0], self.constant(weights, out + "_w"), self.constant(b, out + "_b")],
                [self.activation(out, o["activation"])], kernel_shape=list(w.shape[1:3]), group=group,
                dilations=list(o["dilation"]), **attrs))
        elif k == "Convolution2DTransposeBias":
            w, b = self.constants[op.inputs[1]], self.constants[op.inputs[2]]
            kh, kw = w.shape[1:3]
            sh, sw = o["stride"]
            # Same padding crops the full transposed output to input x stride, from the
            # offset a forward convolution of that size would pad with.
            (t, bt), (l, r) = ((kh - sh) // 2, kh - sh - (kh - sh) // 2), ((kw - sw) // 2, kw - sw - (kw - sw) // 2)
            pads = [max(t, 0), max(l, 0), max(bt, 0), max(r, 0)] if o["padding"] == 0 else [0, 0, 0, 0]
            self.nodes.append(helper.make_node(
                "ConvTranspose", [ins[0], self.constant(w.transpose(3, 0, 1, 2), out + "_w"),
                                  self.constant(b, out + "_b")],
                [out], kernel_shape=[kh, kw], strides=[sh, sw], pads=pads))
        elif k in ("ADD", "MUL"):
            self.nodes.append(helper.make_node(k.capitalize(), ins[:2], [self.activation(out, o["activation"])]))
        elif k in ("RELU", "HARD_SWISH", "LOGISTIC"):
            onnx_op = {"RELU": "Relu", "HARD_SWISH": "HardSwish", "LOGISTIC": "Sigmoid"}[k]
            self.nodes.append(helper.make_node(onnx_op, ins[:1], [out]))
        elif k == "MEAN":
            axes = sorted(NHWC_TO_NCHW_AXIS[int(a)] for a in self.constants[op.inputs[1]])
            self.nodes.append(helper.make_node("ReduceMean", ins[:1], [out], axes=axes,
                                               keepdims=int(o["keep_dims"])))
        elif k == "AVERAGE_POOL_2D":
            kh, kw = o["filter"]
            self.nodes.append(helper.make_node("AveragePool", ins[:1], [self.activation(out, o["activation"])],
                                               kernel_shape=[kh, kw], count_include_pad=0, **self.spatial(op, kh, kw)))
        elif k == "RESIZE_BILINEAR":
            n, _, _, c = self.tensors[op.inputs[0]].shape
            h, w = (int(v) for v in self.constants[op.inputs[1]])
            mode = ("align_corners" if o["align_corners"] else "half_pixel" if o["half_pixel_centers"]
                    else "asymmetric")
            sizes = self.constant(np.array([n, c, h, w], np.int64), out + "_sizes")
            self.nodes.append(helper.make_node("Resize", [ins[0], "", "", sizes], [out], mode="linear",
                                               coordinate_transformation_mode=mode))
        else:
            raise SystemExit("operator %s is not converted" % k)


def main():
    source, target = sys.argv[1], sys.argv[2]
    tensors, operators, inputs, outputs = tflite_graph.load(source)
    converter = Converter(tensors)
    n, h, w, c = tensors[inputs[0]].shape
    # The graph reads NCHW planes; the first layer takes them as they come.
    converter.nodes.append(helper.make_node("Identity", ["input"], [converter.name(inputs[0])]))
    for op in operators:
        converter.convert(op)
    converter.nodes.append(helper.make_node("Identity", [converter.name(outputs[0])], ["mask"]))
    graph = helper.make_graph(
        converter.nodes, "person_segmentation",
        [helper.make_tensor_value_info("input", TensorProto.FLOAT, [n, c, h, w])],
        [helper.make_tensor_value_info("mask", TensorProto.FLOAT, [n, 1, h, w])],
        converter.initializers)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", OPSET)],
                              producer_name="pictor tflite_to_onnx")
    model.ir_version = 7  # what ONNX Runtime 1.8 and later read
    onnx.checker.check_model(model)
    onnx.save(model, target)


if __name__ == "__main__":
    main()

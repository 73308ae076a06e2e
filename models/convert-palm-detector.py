#!/usr/bin/python3
"""Rebuild models/palm_detection_*.onnx from the npm package @mediapipe/hands.

Uses Debian's python3-onnx, python3-flatbuffers and python3-numpy only:

    apt-get install python3-onnx python3-flatbuffers python3-numpy
    models/convert-palm-detector.py [--tarball FILE] [--variant full|lite] [--out FILE]

Without --tarball the pinned package version is fetched with `npm pack`. The tarball's
sha256 must match the pinned one. The TFLite flatbuffer is read with a handful of table
accessors (field ids of the public TFLite schema), fp16 weights are turned into fp32, and
the graph is written in NCHW layout with operators that OpenCV 4.6's dnn importer accepts.
"""

import argparse
import hashlib
import json
import re
import subprocess
import sys
import tarfile
import tempfile
from pathlib import Path

import flatbuffers
import numpy as np
import onnx
from flatbuffers import number_types as nt
from flatbuffers.table import Table
from onnx import TensorProto, helper, numpy_helper

PACKAGE = "@mediapipe/hands"
VERSION = "0.4.1675469240"
TARBALL_SHA256 = "bdd5be939c60cbd72a49f4b6141407683cf2a67263598e1a44757d70b3dfcb8a"
ASSETS = "package/hands_solution_packed_assets.data"
LOADER = "package/hands_solution_packed_assets_loader.js"

# BuiltinOperator codes used by the palm detectors.
ADD, CONCATENATION, CONV_2D, DEPTHWISE_CONV_2D = 0, 2, 3, 4
DEQUANTIZE, MAX_POOL_2D, RESHAPE, RESIZE_BILINEAR = 6, 17, 22, 23
PAD, PRELU = 34, 54
# TensorType
FLOAT32, FLOAT16, INT32 = 0, 1, 2
# ActivationFunctionType
ACT_NONE, ACT_RELU, ACT_RELU6 = 0, 1, 3
# Padding
SAME, VALID = 0, 1


# --- flatbuffer access: a table field's vtable slot is 4 + 2 * field id ---------------------
def _slot(table, field_id):
    return table.Offset(4 + 2 * field_id)


def _scalar(table, field_id, flags, default=0):
    off = _slot(table, field_id)
    return table.Get(flags, off + table.Pos) if off else default


def _table(table, field_id):
    off = _slot(table, field_id)
    return Table(table.Bytes, table.Indirect(off + table.Pos)) if off else None


def _tables(table, field_id):
    off = _slot(table, field_id)
    if not off:
        return []
    start = table.Vector(off)
    return [Table(table.Bytes, table.Indirect(start + 4 * i)) for i in range(table.VectorLen(off))]


def _ints(table, field_id):
    off = _slot(table, field_id)
    if not off:
        return []
    start = table.Vector(off)
    return [
        table.Get(nt.Int32Flags, start + 4 * i) for i in range(table.VectorLen(off))
    ]


def _bytes(table, field_id):
    off = _slot(table, field_id)
    if not off:
        return b""
    start = table.Vector(off)
    return bytes(table.Bytes[start : start + table.VectorLen(off)])


def _string(table, field_id):
    off = _slot(table, field_id)
    return table.String(off + table.Pos).decode() if off else ""


class TfliteModel:
    """Model(1 operator_codes, 2 subgraphs, 4 buffers) of the TFLite schema."""

    def __init__(self, data):
        model = Table(data, flatbuffers.encode.Get(nt.UOffsetTFlags.packer_type, data, 0))
        # OperatorCode: 0 deprecated_builtin_code (int8), 3 builtin_code (int32)
        self.codes = [
            max(_scalar(c, 0, nt.Int8Flags), _scalar(c, 3, nt.Int32Flags))
            for c in _tables(model, 1)
        ]
        self.buffers = [_bytes(b, 0) for b in _tables(model, 4)]  # Buffer: 0 data
        graph = _tables(model, 2)[0]
        # SubGraph: 0 tensors, 1 inputs, 2 outputs, 3 operators
        # Tensor: 0 shape, 1 type, 2 buffer, 3 name
        self.tensors = [
            {
                "shape": _ints(t, 0),
                "type": _scalar(t, 1, nt.Int8Flags),
                "buffer": _scalar(t, 2, nt.Uint32Flags),
                "name": _string(t, 3),
            }
            for t in _tables(graph, 0)
        ]
        self.inputs = _ints(graph, 1)
        self.outputs = _ints(graph, 2)
        # Operator: 0 opcode_index, 1 inputs, 2 outputs, 4 builtin_options
        self.operators = [
            {
                "code": self.codes[_scalar(o, 0, nt.Uint32Flags)],
                "inputs": _ints(o, 1),
                "outputs": _ints(o, 2),
                "options": _table(o, 4),
            }
            for o in _tables(graph, 3)
        ]

    def constant(self, index):
        t = self.tensors[index]
        data = self.buffers[t["buffer"]] if t["buffer"] < len(self.buffers) else b""
        if not data:
            return None
        dtype = {FLOAT32: np.float32, FLOAT16: np.float16, INT32: np.int32}[t["type"]]
        return np.frombuffer(data, dtype=dtype).reshape(t["shape"]).copy()


# --- conversion -------------------------------------------------------------------------------
NHWC_TO_NCHW_AXIS = [0, 2, 3, 1]  # NHWC axis -> NCHW axis
NCHW_FROM_NHWC = [0, 3, 1, 2]  # NCHW axis -> NHWC axis


def _same_pads(size, kernel, stride):
    out = -(-size // stride)
    total = max((out - 1) * stride + kernel - size, 0)
    return total // 2, total - total // 2


class Converter:
    def __init__(self, model):
        self.m = model
        self.nodes = []
        self.initializers = []
        self.consts = {}  # tensor index -> numpy value (fp32 after dequantising)
        self.names = {}

    def name(self, index):
        return self.names.setdefault(index, f"t{index}")

    def add_const(self, name, value):
        self.initializers.append(numpy_helper.from_array(value, name))
        return name

    def fresh(self, stem):
        return f"{stem}_{len(self.nodes)}"

    def activation(self, value_name, out_name, act):
        if act == ACT_NONE:
            return value_name
        if act == ACT_RELU:
            self.nodes.append(helper.make_node("Relu", [value_name], [out_name]))
            return out_name
        raise ValueError(f"unsupported fused activation {act}")

    def emit_with_activation(self, op_type, inputs, out_index, act, **attrs):
        out = self.name(out_index)
        target = self.fresh("pre") if act != ACT_NONE else out
        self.nodes.append(helper.make_node(op_type, inputs, [target], **attrs))
        self.activation(target, out, act)

    def conv(self, op, depthwise):
        opt = op["options"]
        x, w, b = op["inputs"]
        weight = self.consts[w].astype(np.float32)
        bias = self.consts[b].astype(np.float32)
        in_shape = self.m.tensors[x]["shape"]  # NHWC
        if depthwise:
            # DepthwiseConv2DOptions: 0 padding, 1 stride_w, 2 stride_h, 4 activation
            padding = _scalar(opt, 0, nt.Int8Flags)
            sw, sh = _scalar(opt, 1, nt.Int32Flags), _scalar(opt, 2, nt.Int32Flags)
            act = _scalar(opt, 4, nt.Int8Flags)
            kernel = weight.transpose(3, 0, 1, 2)  # [1,H,W,C] -> [C,1,H,W]
            group = in_shape[3]
        else:
            # Conv2DOptions: 0 padding, 1 stride_w, 2 stride_h, 3 activation
            padding = _scalar(opt, 0, nt.Int8Flags)
            sw, sh = _scalar(opt, 1, nt.Int32Flags), _scalar(opt, 2, nt.Int32Flags)
            act = _scalar(opt, 3, nt.Int8Flags)
            kernel = weight.transpose(0, 3, 1, 2)  # [O,H,W,I] -> [O,I,H,W]
            group = 1
        kh, kw = kernel.shape[2], kernel.shape[3]
        if padding == SAME:
            top, bottom = _same_pads(in_shape[1], kh, sh)
            left, right = _same_pads(in_shape[2], kw, sw)
        else:
            top = bottom = left = right = 0
        wname = self.add_const(self.fresh("w"), np.ascontiguousarray(kernel))
        bname = self.add_const(self.fresh("b"), bias)
        self.emit_with_activation(
            "Conv",
            [self.name(x), wname, bname],
            op["outputs"][0],
            act,
            kernel_shape=[kh, kw],
            strides=[sh, sw],
            pads=[top, left, bottom, right],
            group=group,
        )

    def convert_op(self, op):
        code, ins, outs = op["code"], op["inputs"], op["outputs"]
        opt = op["options"]
        if code == DEQUANTIZE:
            self.consts[outs[0]] = self.consts[ins[0]].astype(np.float32)
        elif code == CONV_2D:
            self.conv(op, depthwise=False)
        elif code == DEPTHWISE_CONV_2D:
            self.conv(op, depthwise=True)
        elif code == PRELU:
            alpha = self.consts[ins[1]].astype(np.float32).reshape(-1, 1, 1)
            aname = self.add_const(self.fresh("alpha"), alpha)
            self.nodes.append(
                helper.make_node("PRelu", [self.name(ins[0]), aname], [self.name(outs[0])])
            )
        elif code == ADD:
            act = _scalar(opt, 0, nt.Int8Flags) if opt else ACT_NONE  # AddOptions: 0 activation
            self.emit_with_activation(
                "Add", [self.name(ins[0]), self.name(ins[1])], outs[0], act
            )
        elif code == MAX_POOL_2D:
            # Pool2DOptions: 0 padding, 1 stride_w, 2 stride_h, 3 filter_w, 4 filter_h, 5 act
            padding = _scalar(opt, 0, nt.Int8Flags)
            sw, sh = _scalar(opt, 1, nt.Int32Flags), _scalar(opt, 2, nt.Int32Flags)
            fw, fh = _scalar(opt, 3, nt.Int32Flags), _scalar(opt, 4, nt.Int32Flags)
            in_shape = self.m.tensors[ins[0]]["shape"]
            if padding == SAME:
                top, bottom = _same_pads(in_shape[1], fh, sh)
                left, right = _same_pads(in_shape[2], fw, sw)
            else:
                top = bottom = left = right = 0
            self.emit_with_activation(
                "MaxPool",
                [self.name(ins[0])],
                outs[0],
                _scalar(opt, 5, nt.Int8Flags),
                kernel_shape=[fh, fw],
                strides=[sh, sw],
                pads=[top, left, bottom, right],
            )
        elif code == PAD:
            pads = self.m.constant(ins[1])  # NHWC rows of (before, after)
            nchw = pads[NCHW_FROM_NHWC]
            pname = self.add_const(
                self.fresh("pads"), np.concatenate([nchw[:, 0], nchw[:, 1]]).astype(np.int64)
            )
            self.nodes.append(
                helper.make_node("Pad", [self.name(ins[0]), pname], [self.name(outs[0])])
            )
        elif code == RESIZE_BILINEAR:
            # ResizeBilinearOptions: 2 align_corners, 3 half_pixel_centers
            size = self.m.constant(ins[1])
            in_shape = self.m.tensors[ins[0]]["shape"]
            scales = np.array(
                [1, 1, size[0] / in_shape[1], size[1] / in_shape[2]], dtype=np.float32
            )
            align = _scalar(opt, 2, nt.BoolFlags, False) if opt else False
            half = _scalar(opt, 3, nt.BoolFlags, False) if opt else False
            mode = "align_corners" if align else ("half_pixel" if half else "asymmetric")
            roi = self.add_const(self.fresh("roi"), np.zeros(0, dtype=np.float32))
            sname = self.add_const(self.fresh("scales"), scales)
            self.nodes.append(
                helper.make_node(
                    "Resize",
                    [self.name(ins[0]), roi, sname],
                    [self.name(outs[0])],
                    mode="linear",
                    coordinate_transformation_mode=mode,
                )
            )
        elif code == RESHAPE:
            # Only the heads reshape: NHWC [1,H,W,A*K] -> [1,H*W*A,K]; go back to NHWC first.
            shape = self.m.tensors[outs[0]]["shape"]
            nhwc = self.fresh("nhwc")
            self.nodes.append(
                helper.make_node("Transpose", [self.name(ins[0])], [nhwc], perm=[0, 2, 3, 1])
            )
            sname = self.add_const(self.fresh("shape"), np.array(shape, dtype=np.int64))
            self.nodes.append(helper.make_node("Reshape", [nhwc, sname], [self.name(outs[0])]))
        elif code == CONCATENATION:
            # ConcatenationOptions: 0 axis, 1 activation
            axis = _scalar(opt, 0, nt.Int32Flags)
            rank = len(self.m.tensors[outs[0]]["shape"])
            if axis < 0:
                axis += rank
            if rank == 4:
                axis = NHWC_TO_NCHW_AXIS[axis]
            self.emit_with_activation(
                "Concat",
                [self.name(i) for i in ins],
                outs[0],
                _scalar(opt, 1, nt.Int8Flags),
                axis=axis,
            )
        else:
            raise ValueError(f"unsupported TFLite operator {code}")

    def run(self):
        for i in range(len(self.m.tensors)):
            value = self.m.constant(i)
            if value is not None:
                self.consts[i] = value
        (inp,) = self.m.inputs
        self.names[inp] = "input"
        graph_outputs = []
        for out in self.m.outputs:
            shape = self.m.tensors[out]["shape"]
            self.names[out] = "classificators" if shape[-1] == 1 else "regressors"
            graph_outputs.append(
                helper.make_tensor_value_info(self.names[out], TensorProto.FLOAT, shape)
            )
        for op in self.m.operators:
            self.convert_op(op)
        n, h, w, c = self.m.tensors[inp]["shape"]
        graph_inputs = [helper.make_tensor_value_info("input", TensorProto.FLOAT, [n, c, h, w])]
        graph = helper.make_graph(
            self.nodes, "palm_detection", graph_inputs, graph_outputs, self.initializers
        )
        model = helper.make_model(
            graph,
            producer_name="convert-palm-detector.py",
            opset_imports=[helper.make_opsetid("", 11)],
        )
        onnx.checker.check_model(model)
        return model


def read_package(tarball):
    digest = hashlib.sha256(Path(tarball).read_bytes()).hexdigest()
    if digest != TARBALL_SHA256:
        sys.exit(f"{tarball}: sha256 {digest}, expected {TARBALL_SHA256}")
    with tarfile.open(tarball) as tar:
        loader = tar.extractfile(LOADER).read().decode()
        assets = tar.extractfile(ASSETS).read()
    return loader, assets


def extract_tflite(loader, assets, variant):
    wanted = f"palm_detection_{variant}.tflite"
    for match in re.finditer(r'\{[^{}]*"filename"[^{}]*\}', loader):
        entry = json.loads(match.group(0))
        if entry["filename"].endswith("/" + wanted):
            return assets[entry["start"] : entry["end"]]
    sys.exit(f"{wanted} not listed in {LOADER}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tarball", help="mediapipe-hands tarball (default: npm pack)")
    parser.add_argument("--variant", choices=["full", "lite"], default="full")
    parser.add_argument("--out", help="output .onnx (default: beside this script)")
    args = parser.parse_args()
    out = Path(args.out or Path(__file__).with_name(f"palm_detection_{args.variant}.onnx"))
    with tempfile.TemporaryDirectory() as tmp:
        tarball = args.tarball
        if not tarball:
            subprocess.run(
                ["npm", "pack", f"{PACKAGE}@{VERSION}", "--pack-destination", tmp], check=True
            )
            tarball = next(Path(tmp).glob("*.tgz"))
        loader, assets = read_package(tarball)
    data = extract_tflite(loader, assets, args.variant)
    if data[4:8] != b"TFL3":
        sys.exit("the extracted asset is not a TFLite flatbuffer")
    model = Converter(TfliteModel(data)).run()
    out.write_bytes(model.SerializeToString())
    print(f"wrote {out} ({out.stat().st_size} bytes)")


if __name__ == "__main__":
    main()

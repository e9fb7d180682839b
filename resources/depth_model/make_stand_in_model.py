#!/usr/bin/python3
"""Writes the stand-in depth model, model.onnx, next to this script.

The network has hand-set weights and computes a plausible depth cue: a
vertical-position prior (lower rows nearer, as in most scenes) blended with
smoothed local luminance (bright regions, such as windows in front of a dark
desktop, come forward a little). It meets the model contract that the
application expects from a real depth estimator:

  input  "input": 1x3x294x518 float RGB in [0, 1]
  output "depth": 1x1x294x518 float relative inverse depth (larger = nearer)

Run with Debian's python3-onnx:  /usr/bin/python3 make_stand_in_model.py [out.onnx]

With --test-models DIR it also writes the tiny models the tests use:
  wrong_channels.onnx  output 1x2x294x518 (not a depth map)
  half_size.onnx       output 1x147x259 (three dimensions, half the size)
"""
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

HEIGHT, WIDTH = 294, 518
BLUR = 9            # luminance smoothing window (pixels)
PRIOR_WEIGHT = 0.7  # share of the vertical prior in the cue


def build():
    lum_w = np.array([0.299, 0.587, 0.114], dtype=np.float32).reshape(1, 3, 1, 1)
    # The luminance share is folded into the smoothing weights.
    blur_w = np.full((1, 1, BLUR, BLUR), (1.0 - PRIOR_WEIGHT) / (BLUR * BLUR), dtype=np.float32)
    # Row ramp 0 at the top to PRIOR_WEIGHT at the bottom, broadcast over columns.
    prior = (np.linspace(0.0, 1.0, HEIGHT, dtype=np.float32) * PRIOR_WEIGHT).reshape(1, 1, HEIGHT, 1)

    inits = [
        numpy_helper.from_array(lum_w, "lum_w"),
        numpy_helper.from_array(blur_w, "blur_w"),
        numpy_helper.from_array(prior, "prior"),
    ]
    pad = BLUR // 2
    nodes = [
        helper.make_node("Conv", ["input", "lum_w"], ["lum"], kernel_shape=[1, 1], name="luminance"),
        helper.make_node("Conv", ["lum", "blur_w"], ["lum_blur"], kernel_shape=[BLUR, BLUR],
                         pads=[pad, pad, pad, pad], name="smooth"),
        # Luminance is never negative; the Relu also keeps importers from folding
        # the broadcast prior into the convolution's per-channel bias.
        helper.make_node("Relu", ["lum_blur"], ["lum_part"], name="clip"),
        helper.make_node("Add", ["lum_part", "prior"], ["depth"], name="blend"),
    ]
    graph = helper.make_graph(
        nodes, "vistrelle_stand_in_depth",
        [helper.make_tensor_value_info("input", TensorProto.FLOAT, [1, 3, HEIGHT, WIDTH])],
        [helper.make_tensor_value_info("depth", TensorProto.FLOAT, [1, 1, HEIGHT, WIDTH])],
        inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)],
                              producer_name="vistrelle")
    model.ir_version = 7
    onnx.checker.check_model(model)
    return model


def tiny(name, out_channels, stride, reshape):
    weights = np.full((out_channels, 3, 1, 1), 1.0 / 3.0, dtype=np.float32)
    weights[:, 0, 0, 0] += np.arange(out_channels, dtype=np.float32)
    inits = [numpy_helper.from_array(weights, "w")]
    conv_out = "depth" if reshape is None else "conv"
    nodes = [helper.make_node("Conv", ["input", "w"], [conv_out], kernel_shape=[1, 1],
                              strides=[stride, stride], name="conv")]
    out_shape = [1, out_channels, (HEIGHT + stride - 1) // stride, (WIDTH + stride - 1) // stride]
    if reshape is not None:
        inits.append(numpy_helper.from_array(np.array(reshape, dtype=np.int64), "shape"))
        nodes.append(helper.make_node("Reshape", ["conv", "shape"], ["depth"], name="reshape"))
        out_shape = reshape
    graph = helper.make_graph(
        nodes, name,
        [helper.make_tensor_value_info("input", TensorProto.FLOAT, [1, 3, HEIGHT, WIDTH])],
        [helper.make_tensor_value_info("depth", TensorProto.FLOAT, out_shape)], inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)],
                              producer_name="vistrelle")
    model.ir_version = 7
    onnx.checker.check_model(model)
    return model


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--test-models":
        folder = sys.argv[2]
        onnx.save(tiny("wrong_channels", 2, 1, None), os.path.join(folder, "wrong_channels.onnx"))
        onnx.save(tiny("half_size", 1, 2, [1, (HEIGHT + 1) // 2, (WIDTH + 1) // 2]),
                  os.path.join(folder, "half_size.onnx"))
        return
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "model.onnx")
    onnx.save(build(), out)
    print(out)


if __name__ == "__main__":
    main()

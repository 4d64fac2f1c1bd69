#!/usr/bin/env python3
"""Writes a timed capture (docs/capture-format.md) of a board printing a
heater's control loop as CSV lines, 50 a second for 20 seconds: the picture
in docs/plotting.md is this capture in the plot.
    tools/plot_demo_capture.py OUT.cap
    TARVIK_SCREENSHOT_WINDOW=PlotWindow tools/screenshot.sh docs/tarvik2-plot.png 0 --plot --open-capture OUT.cap
"""
import math
import sys

mono, wall = 5_000_000, 1_765_298_000_000_000
lines = ["# tarvik2 capture 1", f"{mono} {wall} ev opened"]
temperature = 20.0
for i in range(1000):
    t = i / 50
    setpoint = 60.0 if t < 10 else 45.0
    error = setpoint - temperature
    heater = max(0.0, min(100.0, 8 * error))
    temperature += (heater * 0.012 - (temperature - 20) * 0.004) + 0.15 * math.sin(i * 1.7)
    text = "temperature,setpoint,heater\n" if i == 0 else ""
    text += f"{temperature:.2f},{setpoint:.1f},{heater:.1f}\r\n"
    at = i * 20_000 + 30_000
    lines.append(f"{mono + at} {wall + at} rx {text.encode().hex()}")
lines.append(f"{mono + 20_100_000} {wall + 20_100_000} ev closed")
with open(sys.argv[1], "w") as out:
    out.write("\n".join(lines) + "\n")

"""Pieces of the VX900 instrument simulator; the program is sim/vx900sim."""

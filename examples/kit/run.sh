#!/bin/bash
# Runs the kit demonstration: builds a small chunk image with a pointer-offset
# table, scrambles it, walks it and prints what it did.
set -e
lumivor kit

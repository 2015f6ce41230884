#!/usr/bin/python3
# Turns a scrolling capture recorded by bench_ScrollingApplications --record into a small fixture for
# tst_ScrollingRecordedFrames: keeps the chosen alignments with the looks they compared (their PNG
# files renumbered) and writes each one's true offset, found by trying every shift of the two looks
# pixel for pixel (a step that moved nothing is not among them).
#
#   scrolling_recording.py show RECORDING
#       lists the alignments: what the capture expected and was answered, and the shifts at which
#       most cells of the two looks agree that occur once in the earlier look
#   scrolling_recording.py keep RECORDING FIXTURE N[:key=value,...] ...
#       keeps alignments N (as numbered by show) in the folder FIXTURE; the true offset is the shift
#       found when at least 50 cells and three times as many as at any other shift agree there, else
#       none (the pixels cannot tell it), unless given (offset=N or offset=none); fixedBottom=R:
#       rows at the bottom that stay put over the content; undrawnFrom=R: the first of the rows at
#       the bottom of the earlier look that it showed blank, not drawn yet, and the later one drawn;
#       blankFrom=R: the first of the rows at the bottom of the later look that it showed blank;
#       meanwhile=true: what the window showed after the step before the later look, each until
#       the next was first seen, with the rows it showed blank that the earlier look had drawn
#       (a full recording, with --record-all or of a run that did not complete, has their times)
#
# Needs python3-numpy and python3-pil.
import json
import os
import shutil
import sys

import numpy as np
from PIL import Image

BAND = 16
CLEAR_CELLS = 50


def pixels(path):
    rgb = np.asarray(Image.open(path).convert("RGB")).astype(np.uint32)
    return (rgb[:, :, 0] << 16) | (rgb[:, :, 1] << 8) | rgb[:, :, 2]


def cells(image):
    height, width = image.shape
    bands = (width + BAND - 1) // BAND
    keys = np.zeros((height, bands), dtype=object)
    flat = np.zeros((height, bands), dtype=bool)
    for band in range(bands):
        part = image[:, band * BAND:(band + 1) * BAND]
        keys[:, band] = [row.tobytes() for row in part]
        flat[:, band] = (part == part[:, :1]).all(axis=1)
    return keys, flat


def shifts(earlier, later):
    """Shifts, best first, with the cells that agree there and occur once in their band of `earlier`.
    No movement is left out: the rows that stay put (a header) agree there."""
    a, flat_a = cells(earlier)
    b, flat_b = cells(later)
    height, bands = a.shape
    once = np.zeros(a.shape, dtype=bool)
    for band in range(bands):
        column = list(a[:, band])
        counts = {}
        for key in column:
            counts[key] = counts.get(key, 0) + 1
        once[:, band] = [counts[key] == 1 for key in column]
    found = []
    for shift in range(-(height - 8), height - 8):
        if shift == 0:
            continue
        top, bottom = max(0, -shift), min(height, height - shift)
        agree = (a[top + shift:bottom + shift] == b[top:bottom]) & ~flat_b[top:bottom] & once[top + shift:bottom + shift]
        found.append((int(agree.sum()), shift))
    found.sort(reverse=True)
    return found


def blanked(earlier, later):
    """The rows [first, last) that are all `later` differs from `earlier` in, when they are blank in
    one colour in `later` and `earlier` showed something in at least 8 of them; else None."""
    rows = (earlier != later).any(axis=1).nonzero()[0]
    if len(rows) == 0:
        return None
    first, last = int(rows[0]), int(rows[-1]) + 1
    colour = later[first, 0]
    if not (later[first:last] == colour).all():
        return None
    drawn = int((~(earlier[first:last] == colour).all(axis=1)).sum())
    return [first, last] if drawn >= 8 else None


def meanwhile(recording, manifest, event):
    """What the window showed between the step after look `from` and look `to`."""
    events = manifest["events"]
    start = next(i for i, e in enumerate(events) if e["kind"] == "look" and e["look"] == event["from"])
    end = next(i for i, e in enumerate(events) if e["kind"] == "look" and e["look"] == event["to"])
    stepped = next(e["t"] for e in events[start:end] if e["kind"] == "step")
    target = next(e["image"] for e in events if e["kind"] == "look" and e["look"] == event["to"])
    runs = []
    for e in events[start:end + 1]:
        if e["kind"] != "look" or e["t"] < stepped:
            continue
        if e["image"] == target:
            if runs:
                runs[-1]["until"] = int(round(e["t"] - stepped))
            break
        if not runs or runs[-1]["image"] != e["image"]:
            if runs:
                runs[-1]["until"] = int(round(e["t"] - stepped))
            runs.append({"image": e["image"]})
    before = pixels(image_path(recording, manifest, next(
        e["image"] for e in events if e["kind"] == "look" and e["look"] == event["from"])))
    for shown in runs:
        band = blanked(before, pixels(image_path(recording, manifest, shown["image"])))
        if band:
            shown["blanked"] = band
    return runs


def load(recording):
    with open(os.path.join(recording, "manifest.json"), encoding="utf-8") as source:
        manifest = json.load(source)
    image_of_look = {e["look"]: e["image"] for e in manifest["events"] if e["kind"] == "look"}
    alignments = [e for e in manifest["events"] if e["kind"] == "align"]
    return manifest, image_of_look, alignments


def image_path(recording, manifest, image):
    return os.path.join(recording, manifest["images"][image])


def show(recording):
    manifest, image_of_look, alignments = load(recording)
    for number, event in enumerate(alignments, 1):
        earlier = pixels(image_path(recording, manifest, image_of_look[event["from"]]))
        later = pixels(image_path(recording, manifest, image_of_look[event["to"]]))
        answer = event["answer"]
        print(
            "%d: expected %s, answered %d (%.2f, %s, fixed %d/%d); agreeing cells by shift %s"
            % (number, event["expected"], answer["offset"], answer["confidence"], answer["basis"],
               answer["fixedTop"], answer["fixedBottom"], shifts(earlier, later)[:3]))


def keep(recording, fixture, choices):
    manifest, image_of_look, alignments = load(recording)
    os.makedirs(fixture, exist_ok=True)
    kept_images = {}
    events = []

    kept_looks = set()

    def look_of(look):
        image = image_of_look[look]
        if image not in kept_images:
            kept_images[image] = len(kept_images)
            shutil.copyfile(image_path(recording, manifest, image),
                            os.path.join(fixture, "%04d.png" % kept_images[image]))
        if look not in kept_looks:
            kept_looks.add(look)
            events.append({"kind": "look", "look": look, "image": kept_images[image]})

    for choice in choices:
        number, _, options = choice.partition(":")
        event = dict(alignments[int(number) - 1])
        look_of(event["from"])
        look_of(event["to"])
        truth = {}
        for option in filter(None, options.split(",")):
            key, _, value = option.partition("=")
            truth[key] = value == "true" if value in ("true", "false") else (None if value == "none" else int(value))
        if truth.pop("meanwhile", False):
            shown = meanwhile(recording, manifest, event)
            for look in shown:
                image = look["image"]
                if image not in kept_images:
                    kept_images[image] = len(kept_images)
                    shutil.copyfile(image_path(recording, manifest, image),
                                    os.path.join(fixture, "%04d.png" % kept_images[image]))
                look["image"] = kept_images[image]
            event["meanwhile"] = shown
        if "offset" not in truth:
            earlier = pixels(image_path(recording, manifest, image_of_look[event["from"]]))
            later = pixels(image_path(recording, manifest, image_of_look[event["to"]]))
            found = shifts(earlier, later)
            # Few cells, or another shift nearly as good: the pixels cannot tell it.
            clear = found[0][0] >= CLEAR_CELLS and found[0][0] >= 3 * found[1][0]
            truth["offset"] = found[0][1] if clear else None
        if truth["offset"] is None:
            del truth["offset"]
        event["truth"] = truth
        event["recordedAs"] = int(number)
        events.append(event)
    about = {k: v for k, v in manifest.items() if k not in ("events", "images")}
    about["images"] = ["%04d.png" % i for i in range(len(kept_images))]
    about["events"] = events
    with open(os.path.join(fixture, "manifest.json"), "w", encoding="utf-8") as target:
        json.dump(about, target, indent=1)
        target.write("\n")


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "show":
        show(sys.argv[2])
    elif len(sys.argv) >= 5 and sys.argv[1] == "keep":
        keep(sys.argv[2], sys.argv[3], sys.argv[4:])
    else:
        sys.exit(__doc__ if __doc__ else "usage: scrolling_recording.py show|keep ...")

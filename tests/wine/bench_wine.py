#!/usr/bin/env python3
"""One default silent update of the release NorvaneFwUpdater.exe through Wine's HID stack, timed.

    python3 tests/wine/bench_wine.py [--build-dir DIR]

Brings up one virtual controller matching the image (tests/tools/wine/vdev, in the prefix of the vdev
tests), runs "NorvaneFwUpdater.exe /s /v LOGFILE=fw.log" once through launch.exe and prints its
wall time against the 3,176 ms of pauses the protocol mandates for the defaults, the same for a
run that ends at once (no image: start-up and exit only), and the time per HID feature call that
is left above the floor. Fails when the update does not succeed.
"""

import json
import os
import sys
import tempfile
import time
import shutil

import vdev_tests
import wine_harness as harness

FLOOR_MS = 3176  # pauses the protocol mandates for one default update (docs/performance.md)


def timed_run(wine, folder):
    started = time.monotonic()
    code, _out = wine.run(folder, harness.SILENT_ARGS)
    return code, (time.monotonic() - started) * 1000.0


def measure(wine, base):
    class Context(harness.Context):
        pass
    ctx = Context(wine, base)
    idle = ctx.folder('idle')
    code, idle_ms = timed_run(wine, idle)
    if code != 1603:
        raise AssertionError('a run without image ended with %d' % code)
    folder = ctx.folder('update')
    harness.make_image(os.path.join(folder, 'FW.bin'))
    scenario = os.path.join(base, 'default.json')
    with open(scenario, 'w') as f:
        json.dump({}, f)
    vdev_tests.vdev(ctx, folder, 'up', scenario)
    code, update_ms = timed_run(wine, folder)
    if code != 0:
        raise AssertionError('the update ended with exit code %d' % code)
    calls = vdev_tests.transcript_calls(vdev_tests.vdev(ctx, folder, 'transcript'))
    sets = sum(1 for kind, _d, _b, _ok in calls if kind == 'SET')
    above = update_ms - idle_ms - FLOOR_MS
    print('update run (launch.exe start to exit): %8.0f ms' % update_ms)
    print('run without image (start-up and exit): %8.0f ms' % idle_ms)
    print('update itself:                         %8.0f ms, %.1f x the %d ms floor' %
          ((update_ms - idle_ms), (update_ms - idle_ms) / FLOOR_MS, FLOOR_MS))
    print('HID feature calls:                     %8d (%d HidD_SetFeature, %d HidD_GetFeature)' %
          (len(calls), sets, len(calls) - sets))
    print('time per HID call above the floor:     %8.2f ms' % (above / len(calls)))


def main():
    options = harness.parse_options(__doc__, vdev_tests.set_build_dir)
    parts = [harness.EXE, harness.LAUNCH, harness.FWIMAGE,
             os.path.join(harness.BUILD, 'windows', 'tools', 'vdev', 'norvane_vdev.sys')]
    if harness.report_missing(parts, 'build both builds first (make build)'):
        return 1
    wine = vdev_tests.VdevWine()
    base = tempfile.mkdtemp(prefix='norvane-bench-wine-')
    status = 0
    try:
        wine.start()
        measure(wine, base)
    except (AssertionError, RuntimeError, OSError) as error:
        print('bench-wine FAILED: %s' % error)
        status = 1
    finally:
        wine.stop()
        shutil.rmtree(base, ignore_errors=True)
    return status


if __name__ == '__main__':
    sys.exit(main())

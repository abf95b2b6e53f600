"""Drives the program for scripts/screenshots, which runs it under gui-run (a private X server
and AT-SPI bus) in a private network namespace.

Usage: screenshots-drive.py SOURCE_DIR WORK_DIR PICTURES_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import time

import pyatspi
import vt

top, work, out = (os.path.abspath(p) for p in sys.argv[1:4])
build = os.path.join(top, 'build')
unit_address = '127.0.0.2'
community = 'public'
data = os.path.join(work, 'data')
os.makedirs(data, exist_ok=True)
children = []


def step(text):
    print(f'screenshots: {text}', flush=True)


def counted(text):
    """A counted string of the settings file (texts here are short: a one-byte length)."""
    b = text.encode()
    assert len(b) < 255
    return bytes([len(b)]) + b


def write_settings():
    """Version 2: address, period, folder, password; overwrite and local zone off."""
    with open(os.path.join(work, 'VeltraneG.ini'), 'wb') as f:
        f.write(b'\x02\x00\x00\x00' + counted(unit_address) + counted('1') + counted(data)
                + counted(community) + b'\x00\x00')
    os.chmod(os.path.join(work, 'VeltraneG.ini'), 0o600)


def start_unit():
    """The demo unit, its datalog answering each request after 250 ms so a download lasts a
    few seconds and its progress can be seen."""
    with open(os.path.join(top, 'tools/unitsim/units/demo.json')) as f:
        description = json.load(f)
    for unit in description['units']:
        if 'datalog' in unit:
            unit['datalog']['faults'] = {'on': 'both', 'delayMs': 250}
    path = os.path.join(work, 'units.json')
    with open(path, 'w') as f:
        json.dump(description, f)
    ready = os.path.join(work, 'unit.ready')
    children.append(subprocess.Popen([os.path.join(build, 'tools/unitsim/veltrane-unitsim'),
                                      '--ready-file', ready, path]))
    wait_for(lambda: os.path.exists(ready) and os.path.getsize(ready) > 0, 10, 'the unit to listen')


def wait_for(condition, seconds, what):
    end = time.time() + seconds
    while time.time() < end:
        if condition():
            return
        time.sleep(0.2)
    raise SystemExit(f'screenshots: gave up waiting for {what}')


def window_id(title_regex):
    ids = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', title_regex],
                         capture_output=True, text=True).stdout.split()
    if not ids:
        raise SystemExit(f'screenshots: no window named {title_regex}')
    return ids[-1]


def capture(title_regex, name):
    """The window's pixels as docs/pictures/NAME.png."""
    wid = window_id(title_regex)
    target = os.path.join(out, name + '.png')
    xwd = subprocess.run(['xwd', '-silent', '-id', wid], check=True, capture_output=True).stdout
    pnm = subprocess.run(['xwdtopnm'], input=xwd, check=True, capture_output=True).stdout
    png = subprocess.run(['pnmtopng'], input=pnm, check=True, capture_output=True).stdout
    with open(target, 'wb') as f:
        f.write(png)
    step(f'wrote {os.path.relpath(target, top)}')


def button(win, name):
    x = vt.find(win, 'push button', name, timeout=10)
    if x is None:
        raise SystemExit(f'screenshots: no button {name}')
    return x


def untick(dialog, description):
    """Unticks the Generate OID dialog's row of that description, as a user would."""
    table = vt.find(dialog, 'tree', 'Sensors')
    if table is None:
        raise SystemExit('screenshots: no sensor list')
    t = table.queryTable()
    for r in range(t.nRows):
        if t.getAccessibleAt(r, 1).name == description:
            # A click on its check box, where the cell's box is on the screen.
            box = t.getAccessibleAt(r, 0).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            subprocess.run(['xdotool', 'mousemove', str(box.x + 10), str(box.y + box.height // 2),
                            'click', '1'], check=True)
            def unticked():
                table.clearCache()  # states are cached: ask the program afresh
                return not vt.checked(table.queryTable().getAccessibleAt(r, 0))
            wait_for(unticked, 5, f'{description} to be unticked')
            return
    raise SystemExit(f'screenshots: no row {description}')


def main():
    write_settings()
    start_unit()
    step('unit listening; starting the program')
    children.append(subprocess.Popen([os.path.join(build, 'app/veltrane')], cwd=work))
    app, win = vt.find_window('Veltrane Ver')
    if win is None:
        raise SystemExit('screenshots: the main window did not appear')
    time.sleep(1)

    # Get OID: the dialog once its scan has listed the sensors.
    vt.click(button(win, 'Get OID'))
    _, dialog = vt.find_window('Genarate OID')
    if dialog is None:
        raise SystemExit('screenshots: the Generate OID dialog did not appear')
    ok = button(dialog, 'OK')
    wait_for(lambda: vt.enabled(ok), 60, 'the scan to end')
    untick(dialog, 'UPS input voltage') # its 230 V would flatten the other lines of the plot
    time.sleep(0.5)
    capture('^Genarate OID', 'generate-oid')
    vt.click(ok)

    # Collection: a few lines in the status list, the lamp green.
    start = button(win, 'Start')
    wait_for(lambda: vt.enabled(start), 10, 'Start to be enabled')
    vt.click(start)
    time.sleep(8)
    capture('^Veltrane Ver', 'main-window')

    # A download beside the collection, caught while its bar moves.
    download = button(win, 'Download')
    vt.click(download)
    time.sleep(2.5)
    capture('^Veltrane Ver', 'download')
    # A channel without records says so in a message box, which holds the download until it
    # is answered.
    def download_ended():
        for alert, text in vt.alerts(app):
            step(f'answered: {text}')
            vt.dismiss(alert)
        return vt.enabled(download)
    wait_for(download_ended, 60, 'the download to end')

    # The plot window of the running collection's data file, from the background's menu.
    wid = window_id('^Veltrane Ver')
    geometry = subprocess.run(['xdotool', 'getwindowgeometry', '--shell', wid], check=True,
                              capture_output=True, text=True).stdout
    size = dict(line.split('=') for line in geometry.split())
    subprocess.run(['xdotool', 'mousemove', '--window', wid, str(int(size['WIDTH']) - 4),
                    str(int(size['HEIGHT']) - 4), 'click', '3'], check=True)
    item = vt.find(app, 'menu item', 'Plot Data File', timeout=5)
    if item is not None:
        vt.click(item)
    else:
        subprocess.run(['xdotool', 'key', 'Down', 'Down', 'Return'], check=True)
    _, plot = vt.find_window('Plot - ')
    if plot is None:
        raise SystemExit('screenshots: the plot window did not appear')
    time.sleep(3)
    capture('^Plot - ', 'plot-window')

    vt.click(button(win, 'Stop'))

    # veltrane-cli plot of the temperature datalog the download wrote.
    report = os.path.join(data, f'{unit_address}_p1_temperature.txt')
    target = os.path.join(out, 'cli-plot.png')
    subprocess.run([os.path.join(build, 'cli/veltrane-cli'), 'plot', report, '-o', target,
                    '--size', '720x400'], check=True)
    step(f'wrote {os.path.relpath(target, top)}')


try:
    main()
finally:
    for child in reversed(children):
        child.terminate()
    for child in children:
        try:
            child.wait(timeout=10)
        except subprocess.TimeoutExpired:
            child.kill()

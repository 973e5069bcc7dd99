#!/usr/bin/python3
"""Times cscunpack --serve over a folder of archives, for bench/run:

    serve_bench.py TOOL ARCHIVES TREE [--every-file]

TREE is the tree an extraction of ARCHIVES wrote. Prints one line: how soon the server stands
(seconds until its "Serving at" line), /api/files (seconds), and with --every-file curl of every
file one after another over one connection (seconds) and whether 32 clients downloading every file
at once each got every byte right (yes/no; else "-" for both), then the server's peak resident
memory (KiB).
"""
import concurrent.futures
import hashlib
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.request

tool, archives, tree = sys.argv[1:4]
every_file = '--every-file' in sys.argv[4:]

started = time.monotonic()
server = subprocess.Popen([tool, '--serve', '0', '-q'], cwd=archives, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
line = server.stdout.readline().decode()
ready = time.monotonic() - started
address = line.split(' ')[-1].strip()
base, token = address.split('#token=')
base = base.rstrip('/')
auth = {'Authorization': 'Bearer ' + token}


def fetch(path):
    with urllib.request.urlopen(urllib.request.Request(base + path, headers=auth)) as answer:
        return answer.read()


# The list's bytes alone are timed, as --list --json --details into /dev/null is: not Python's
# parsing of them.
started = time.monotonic()
body = fetch('/api/files')
files_seconds = time.monotonic() - started
listed = json.loads(body)

sequential = '-'
right = '-'
if every_file:
    with tempfile.NamedTemporaryFile('w', suffix='.curl') as config:
        config.write('header = "Authorization: Bearer %s"\n' % token)
        for f in listed:
            config.write('url = "%s/files/%d/f"\noutput = "/dev/null"\n' % (base, f['id']))
        config.flush()
        started = time.monotonic()
        subprocess.run(['curl', '-s', '-K', config.name], check=True)
        sequential = '%.3f' % (time.monotonic() - started)

    def digest(data):
        return hashlib.sha1(data).hexdigest()

    expected = {}
    for f in listed:
        with open(os.path.join(tree, f['path']), 'rb') as opened:
            expected[f['id']] = digest(opened.read())

    def client(_):
        return all(digest(fetch('/files/%d/f' % f['id'])) == expected[f['id']] for f in listed)

    with concurrent.futures.ThreadPoolExecutor(32) as pool:
        right = 'yes' if all(pool.map(client, range(32))) else 'no'

with open('/proc/%d/status' % server.pid) as status:
    peak = next(int(l.split()[1]) for l in status if l.startswith('VmHWM:'))
server.terminate()
server.wait()
print('%.3f %.3f %s %s %d' % (ready, files_seconds, sequential, right, peak))

#!/usr/bin/python3
"""Times cscunpack --serve over a folder of archives, for bench/run:

    serve_bench.py TOOL ARCHIVES TREE [--every-file] [--idle-clients]

TREE is the tree an extraction of ARCHIVES wrote. Prints one line: how soon the server stands
(seconds until its "Serving at" line), /api/files (seconds), and with --every-file curl of every
file one after another over one connection (seconds) and whether 32 clients downloading every file
at once each got every byte right (yes/no; else "-" for both), then the server's peak resident
memory (KiB), and with --idle-clients its peak after 1,023 clients asked for zips and lists of
every file, files, and half-sent 8 KiB headers, and read nothing (KiB; else "-").
"""
import concurrent.futures
import hashlib
import json
import os
import resource
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

tool, archives, tree = sys.argv[1:4]
every_file = '--every-file' in sys.argv[4:]
idle_clients = '--idle-clients' in sys.argv[4:]

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



def peak_kib():
    with open('/proc/%d/status' % server.pid) as status:
        return next(int(l.split()[1]) for l in status if l.startswith('VmHWM:'))


peak = peak_kib()
idle_peak = '-'
if idle_clients:
    resource.setrlimit(resource.RLIMIT_NOFILE, (4096, 4096))
    host = base.split('//')[1]
    name, port = host.rsplit(':', 1)
    clients = []

    def ask(path, rest=b'\r\n'):
        client = socket.create_connection((name, int(port)))
        client.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        client.sendall(b'GET %s HTTP/1.1\r\nHost: %s\r\nAuthorization: Bearer %s\r\n%s'
                       % (path.encode(), host.encode(), token.encode(), rest))
        clients.append(client)

    for path in ['/zip?i=*'] * 4 + ['/api/match?i=*'] * 4 + ['/api/files'] * 10 + \
            ['/files/%d/f' % f['id'] for f in listed[:32]]:
        ask(path)
        time.sleep(0.02)
    while len(clients) < 1023:
        ask('/api/files', b'X-Pad: ' + b'a' * 8100)
    time.sleep(2)
    idle_peak = str(peak_kib())
    for client in clients:
        client.close()
server.terminate()
server.wait()
print('%.3f %.3f %s %s %d %s' % (ready, files_seconds, sequential, right, peak, idle_peak))

"""dorvik-agent's page, the real program over HTTPS on loopback with a virtual reader, measured as
browsers use it: a swipe on the reader to its event on an open page; the Activity page's first
rows over a log of a million swipes; 50 open pages (the agent's memory and its wake-ups while
nothing happens). Prints figures in BenchTable.h's form."""

import os
import select
import socket
import sqlite3
import ssl
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from webagent import WebAgent, wait_until  # noqa: E402

ROWS = int(os.environ.get("DORVIK_BENCH_WEB_ROWS", "1000000"))
PAGES = 50


def figure(what, measured, goal="", met=None):
    verdict = "" if met is None else ("met" if met else "MISSED")
    print("@figure\t%s\t%s\t%s\t%s" % (what, measured, goal, verdict), flush=True)


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, int(share * len(ordered) + 0.999999) - 1))]


class Stream:
    """GET /api/events held open, read as bytes arrive."""

    def __init__(self, web, session, source="127.0.0.1"):
        raw = socket.create_connection(("127.0.0.1", web.port), source_address=(source, 0))
        self.sock = ssl.create_default_context(cafile=web.cert).wrap_socket(raw, server_hostname="127.0.0.1")
        self.sock.sendall(("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: %s\r\n\r\n" % session.cookie).encode())
        self.seen = b""

    def read_until(self, text, timeout=5.0):
        end = time.monotonic() + timeout
        while text not in self.seen:
            if not self.sock.pending() and not select.select([self.sock], [], [], max(0, end - time.monotonic()))[0]:
                return False
            self.seen += self.sock.recv(65536)
        return True


def agent_rss_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:")) / 1024


def agent_switches(pid):
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/status" % (pid, task)) as f:
            total += sum(int(line.split()[1]) for line in f if "ctxt_switches" in line)
    return total


def swipe_latency(web, session):
    stream = Stream(web, session)
    stream.read_until(b": open")
    latencies = []
    for i in range(300):
        value = 500000 + i
        started = time.monotonic()
        web.swipe(value)
        if not stream.read_until(b'"value":%d}' % value):
            raise RuntimeError("swipe %d did not reach the page" % value)
        latencies.append((time.monotonic() - started) * 1000)
        time.sleep(0.01)
    p99 = percentile(latencies, 0.99)
    figure("web: swipe to its event on an open page, median", "%.2f ms" % percentile(latencies, 0.5))
    figure("web: swipe to its event on an open page, p99", "%.2f ms" % p99, "< 100 ms", p99 < 100)


def open_pages(web, session):
    rss_before = agent_rss_mib(web.agent.pid)
    streams = [Stream(web, session, "127.0.0.%d" % (10 + i)) for i in range(PAGES)]
    for s in streams:
        s.read_until(b": open")
    web.swipe(999001)
    reached = sum(s.read_until(b'"value":999001}') for s in streams)
    time.sleep(1)
    grown = agent_rss_mib(web.agent.pid) - rss_before
    figure("web: %d open pages, the agent's memory growth" % PAGES, "%.1f MiB" % grown, "< 10 MB", grown < 9.5)
    figure("web: %d open pages, the swipe's event reached" % PAGES, "%d of %d" % (reached, PAGES), str(PAGES), reached == PAGES)
    seconds = 20
    before = agent_switches(web.agent.pid)
    time.sleep(seconds)
    rate = (agent_switches(web.agent.pid) - before) / seconds
    figure("web: %d open pages, the agent's wake-ups while idle" % PAGES, "%.2f /s" % rate, "< 1 /s", rate < 1)
    for s in streams:
        s.sock.close()


def fill_log(path):
    """The agent's own log file (made by it), with ROWS swipes over a year of 16 doors and 500 names."""
    db = sqlite3.connect(path)
    names = [db.execute("INSERT OR IGNORE INTO Names(Name, Folded) VALUES (?, ?)", ("Person %d" % i, "person %d" % i)).lastrowid
             for i in range(500)]
    start = int(time.time() * 1000) - 365 * 24 * 3600 * 1000
    step = 365 * 24 * 3600 * 1000 // ROWS

    def rows():
        for i in range(ROWS):
            value = 100000 + i % 5000
            yield (start + i * step, "Door %d" % (i % 16), bytes([0]) + value.to_bytes(4, "big"), value,
                   "%010d %03d,%d" % (value, value >> 16, value & 0xFFFF), names[i % 500], 1, 1)

    db.executemany("INSERT INTO Swipes(Time, Door, Bytes, CardValue, CardNumber, NameId, Known, Published) "
                   "VALUES (?, ?, ?, ?, ?, ?, ?, ?)", rows())
    db.commit()
    db.close()


def first_rows(web, session):
    connection = web.connect()
    for what, query in [("newest", ""), ("by name", "?q=person%20123"), ("by card", "?q=101234")]:
        times = []
        for _ in range(10):
            started = time.monotonic()
            connection.request("GET", "/api/swipes" + query, headers={"Cookie": session.cookie})
            body = connection.getresponse().read()
            times.append((time.monotonic() - started) * 1000)
            if b'"rows":[{' not in body:
                raise RuntimeError("no rows for " + query)
        worst = max(times)
        figure("web: Activity over %d swipes, first rows %s (worst of 10)" % (ROWS, what), "%.1f ms" % worst,
               "< 300 ms", worst < 300)
    connection.close()


def main():
    with tempfile.TemporaryDirectory() as kept:
        log = os.path.join(kept, "access.db")
        with WebAgent(tls=True, log=log) as web:
            session = web.sign_in("alice")
            swipe_latency(web, session)
            open_pages(web, session)
        fill_log(log)
        with WebAgent(tls=True, log=log) as web:
            first_rows(web, web.sign_in("alice"))


if __name__ == "__main__":
    main()

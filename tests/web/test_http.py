"""The agent's page at the HTTP level: the real dorvik-agent on loopback, spoken to as clients would."""

import http.client
import json
import os
import pathlib
import re
import signal
import socket
import sqlite3
import ssl
import subprocess
import tempfile
import time
import unittest

from webagent import USERS, WebAgent, make_certificate, wait_until

CSP = ("default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
       "form-action 'self'; base-uri 'none'; frame-ancestors 'none'")


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.web = WebAgent(tls=True)
        cls.admin, cls.viewer = cls.web.sign_in("alice"), cls.web.sign_in("bob")

    @classmethod
    def tearDownClass(cls):
        cls.web.stop()

    def test_every_answer_carries_the_security_headers(self):
        cases = [("GET", "/login", None, 200), ("GET", "/doors", None, 303), ("GET", "/nothing", None, 404),
                 ("POST", "/api/login", {"user": "x"}, 400), ("GET", "/api/doors", self.viewer, 200),
                 ("GET", "/api/swipes.csv", self.viewer, 200)]
        for method, path, who, expected in cases:
            with self.subTest(path=path):
                body = who if isinstance(who, dict) else None
                status, headers, _ = self.web.request(method, path, body, session=None if body else who)
                self.assertEqual(status, expected)
                self.assertEqual(headers["Content-Security-Policy"], CSP)
                for name, value in [("X-Content-Type-Options", "nosniff"), ("X-Frame-Options", "DENY"),
                                    ("Cache-Control", "no-store"), ("Referrer-Policy", "no-referrer")]:
                    self.assertEqual(headers[name], value)
        status, headers, _ = self.web.login("bob", USERS["bob"][1])
        cookie = [part.strip() for part in headers["Set-Cookie"].split(";")]
        self.assertTrue(cookie[0].startswith("__Host-dorvik="))
        self.assertTrue({"HttpOnly", "Secure", "SameSite=Strict", "Path=/"} <= set(cookie), cookie)

    def test_only_the_page_own_files_are_served(self):
        for path in ["/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/app.js/../../../etc/passwd", "//etc/passwd",
                     "/web/app.js", "/:/web/app.js", "/login.html", "/app.js%00.html", "/etc/passwd"]:
            with self.subTest(path=path):
                connection = self.web.connect()
                connection.putrequest("GET", path, skip_accept_encoding=True)  # sent as it stands
                connection.endheaders()
                response = connection.getresponse()
                body = response.read()
                connection.close()
                self.assertIn(response.status, (400, 404))
                self.assertNotIn(b"root:", body)
        for path, kind in [("/app.js", "text/javascript"), ("/app.css", "text/css"), ("/login", "text/html")]:
            status, headers, _ = self.web.request("GET", path)
            self.assertEqual((status, headers["Content-Type"].split(";")[0]), (200, kind))

    def test_a_change_needs_a_session_its_token_and_an_admin(self):
        door = "/api/doors/front"
        change = {"mode": "momentary", "delay": 4}
        json_type = {"Content-Type": "application/json"}
        cases = [
            ("no session", None, {}, 401),
            ("viewer", self.viewer, {}, 403),
            ("no token", self.admin, {"X-Dorvik-Token": ""}, 403),
            ("another session's token", self.admin, {"X-Dorvik-Token": self.viewer.token}, 403),
            ("a form of another site", self.admin, {"Content-Type": "application/x-www-form-urlencoded"}, 415),
            ("sent from another site", self.admin, {"Sec-Fetch-Site": "cross-site"}, 403),
            ("admin with the token", self.admin, {}, 200),
        ]
        for what, who, headers, expected in cases:
            with self.subTest(what):
                status, _, body = self.web.request("POST", door, json.dumps(change), dict(json_type, **headers), session=who)
                self.assertEqual(status, expected, body)
        doors = json.loads(self.web.request("GET", "/api/doors", session=self.viewer)[2])["doors"]
        self.assertEqual((doors[0]["mode"], doors[0]["delay"]), ("momentary", 4))
        self.assertIn("web: alice (127.0.0.1) at ", self.web.said())
        self.assertIn(": door front: mode momentary, delay 4 s", self.web.said())
        log = os.path.join(self.web.dir, "access.db")
        self.assertTrue(wait_until(lambda: subprocess.run(
            [os.environ["DORVIK_CLI"], "log", "--db", log, "--changes", "--format", "json"],
            capture_output=True, text=True).stdout.count('"user": "alice"') == 1))
        kept = json.loads(subprocess.run([os.environ["DORVIK_CLI"], "log", "--db", log, "--changes", "--format", "json"],
                                         capture_output=True, text=True, check=True).stdout)[0]
        self.assertEqual((kept["address"], kept["what"][:30]), ("127.0.0.1", "door front: mode momentary, de"))
        for bad in [{"mode": "open"}, {"delay": 0}, {"delay": 2.5}, {"delay": "5"}]:
            with self.subTest(bad=bad):
                self.assertEqual(self.web.request("POST", door, bad, session=self.admin)[0], 400)

    def test_limits_keep_one_client_from_holding_the_server(self):
        too_large = json.dumps({"user": "a", "password": "x" * 20000})
        self.assertEqual(self.web.request("POST", "/api/login", too_large, {"Content-Type": "application/json"})[0], 413)
        status = self.web.request("GET", "/login", headers={"X-Filler": "y" * 40000})[0]
        self.assertIn(status, (413, 431))
        context = ssl.create_default_context(cafile=self.web.cert)
        # Clients that send half a request and wait: as many as one address may hold, and one more.
        held = []
        for _ in range(33):
            raw = socket.create_connection(("127.0.0.1", self.web.port), source_address=("127.0.0.7", 0))
            try:
                held.append(context.wrap_socket(raw, server_hostname="127.0.0.1"))
                held[-1].sendall(b"GET /login HTTP/1.1\r\nHost: x\r\n")
            except (ssl.SSLError, OSError):
                raw.close()
                break
        self.assertEqual(len(held), 32)
        started = time.monotonic()
        self.assertEqual(self.web.request("GET", "/login")[0], 200)
        self.assertLess(time.monotonic() - started, 5)
        # A connection that sends nothing more is let go after the idle time.
        held[0].settimeout(30)
        self.assertEqual(held[0].recv(100), b"")
        for s in held:
            s.close()


class ActivityTest(unittest.TestCase):
    def test_the_log_is_paged_searched_followed_and_exported_with_the_formula_guard(self):
        site = 'card,name,master\n1001,Ana Lima,yes\n1002,"=HYPERLINK(""x"")",\n'
        with WebAgent(tls=False, site=site) as web:
            session = web.sign_in("bob")
            stream = web.connect()
            stream.request("GET", "/api/events?q=ana", headers={"Cookie": session.cookie})
            events = stream.getresponse()
            events.read1(100)
            web.swipe(1002)
            web.swipe(1001)
            self.assertTrue(wait_until(lambda: web.said().count("known card") == 2))
            live = events.read1(1000).decode()
            self.assertIn('"name":"Ana Lima"', live)
            self.assertNotIn("HYPERLINK", live)
            stream.close()
            # Older rows, more than an export reads at once.
            db = sqlite3.connect(os.path.join(web.dir, "access.db"), timeout=10)
            name = db.execute("SELECT NameId FROM Swipes WHERE CardValue = 1002").fetchone()[0]
            db.executemany("INSERT INTO Swipes(Time, Door, Bytes, CardValue, CardNumber, NameId, Known) VALUES (?, ?, ?, ?, ?, ?, ?)",
                           [(1000 + i, "Front door", b"\0\0\0\3\xea", 1002, "0000001002 000,1002", name, 1) for i in range(4500)])
            db.commit()
            db.close()
            for query, expected in [("", 4502), ("ana", 1), ("1002", 4501), ("000,1001", 1), ("nobody", 0)]:
                with self.subTest(query=query):
                    rows, after = [], ""
                    while after is not None:
                        page = json.loads(web.request("GET", "/api/swipes?q=%s%s" % (query, after), session=session)[2])
                        rows += page["rows"]
                        after = "&before=" + page["next"] if page["next"] else None
                    self.assertEqual(len(rows), expected)
                    self.assertEqual(len({r["id"] for r in rows}), expected)
            status, headers, body = web.request("GET", "/api/swipes.csv", session=session)
            lines = body.decode().split("\r\n")
            self.assertEqual((status, len(lines)), (200, 4504))  # the header, every row, and the last line's end
            self.assertEqual(sum(',"\'=HYPERLINK(""x"")",' in line for line in lines), 4501)


class PeopleTest(unittest.TestCase):
    def test_the_site_list_is_edited_by_an_admin_only_checked_and_written_whole(self):
        site = "card,name,master,from,until,front\r\n1,Ann,yes,,,\r\n2,Bo,,,,yes\r\n"
        with tempfile.NamedTemporaryFile("w", suffix=".csv") as elsewhere, \
                WebAgent(tls=False, people=site, web="[schedule cleaners]\ntue = 18:00-20:00\n",
                         doors="[garage]\nport = tcp://127.0.0.1:9\nsite-file = %s\n" % elsewhere.name) as web:
            elsewhere.write("card,name,master\n7,Gus,\n")
            elsewhere.flush()
            admin, viewer = web.sign_in("alice"), web.sign_in("bob")
            web.swipe(424242)  # a stranger at the front door: the newest card to allow there
            people = lambda: json.loads(web.request("GET", "/api/people", session=viewer)[2])["lists"]
            self.assertTrue(wait_until(lambda: [u["card"] for u in people()[0]["unknown"]] == [424242]))
            lists = people()
            self.assertEqual([(l["doors"][0]["id"], l["editable"], [p["name"] for p in l["people"]]) for l in lists],
                             [("front", True, ["Ann", "Bo"]), ("garage", False, ["Gus"])])
            self.assertIn("Read-only: this page edits %s only" % web.people, lists[1]["note"])
            os.chmod(web.people, 0o604)
            add = {"card": 5, "name": '=HYPERLINK("http://x")', "until": "2030-01-01", "doors": {"front": "cleaners"}}
            cases = [  # what is sent, by whom, the answer, and a part of its words
                ("POST", "/api/people", add, None, {}, 401, "Sign in first"),
                ("POST", "/api/people", add, viewer, {}, 403, "Only an admin"),
                ("DELETE", "/api/people/2", None, admin, {"X-Dorvik-Token": ""}, 403, "token"),
                ("POST", "/api/people", "{not json", admin, {"Content-Type": "application/json"}, 400, "send a JSON object"),
                ("POST", "/api/people", {"card": 6, "name": 7}, admin, {}, 400, "name is text"),
                ("POST", "/api/people", {"card": -1}, admin, {}, 400, "card -1 is not a number from 0 to 4294967295"),
                ("POST", "/api/people", {"card": 6, "role": "admin"}, admin, {}, 400, 'unknown field "role"'),
                ("POST", "/api/people", {"card": 6, "name": "x" * 101}, admin, {}, 400, "at most 100 characters"),
                ("POST", "/api/people", {"card": 6, "from": "2026-13-01"}, admin, {}, 400, 'from "2026-13-01" is not a day'),
                ("POST", "/api/people", {"card": 6, "doors": {"back": "yes"}}, admin, {}, 400, "the column back names no door"),
                ("POST", "/api/people", {"card": 6, "doors": {"front": "clenaers"}}, admin, {}, 400, 'no schedule "clenaers"'),
                ("POST", "/api/people", {"card": 2}, admin, {}, 400, "card 2 is already on line 3"),
                ("DELETE", "/api/people/1", None, admin, {}, 400, "this is the master card"),
                ("PUT", "/api/people/9", {"name": "Ivy"}, admin, {}, 404, "No card 9"),
                ("POST", "/api/people", add, admin, {}, 200, "Added =HYPERLINK"),
                ("PATCH", "/api/people/2", {"name": "Bo Li", "from": "2026-01-02T08:00"}, admin, {}, 200, "Saved Bo Li."),
                ("POST", "/api/people/2/lapse", {}, admin, {}, 200, "Bo Li: access ended now (until "),
                ("DELETE", "/api/people/2", None, admin, {}, 200, "Removed Bo Li."),
            ]
            for method, path, body, who, headers, status, words in cases:
                with self.subTest(method=method, path=path, body=body):
                    before = pathlib.Path(web.people).read_bytes()
                    answer = web.request(method, path, body, headers, session=who)
                    self.assertEqual(answer[0], status, answer[2])
                    self.assertIn(words, json.loads(answer[2]).get("error", json.loads(answer[2]).get("message")))
                    self.assertTrue(status == 200 or pathlib.Path(web.people).read_bytes() == before)
            self.assertEqual(pathlib.Path(web.people).read_bytes(), b"card,name,master,from,until,front\r\n1,Ann,yes,,,\r\n"
                             b"5,\"'=HYPERLINK(\"\"http://x\"\")\",,,2030-01-01,cleaners\r\n")
            self.assertEqual(os.stat(web.people).st_mode & 0o777, 0o604)
            self.assertIn(': site list %s: added card 5 "=HYPERLINK("http://x")": until 2030-01-01, front cleaners' % web.people,
                          web.said())
            self.assertEqual(len(re.findall(r"site list .*: (added|changed|lapsed now:|removed) ", web.said())), 4)


class ReloadTest(unittest.TestCase):
    def test_a_reload_moves_the_page_and_ends_the_open_ones(self):
        with WebAgent(tls=True) as web:
            session = web.sign_in("alice")
            stream = web.connect()
            stream.request("GET", "/api/events", headers={"Cookie": session.cookie})
            events = stream.getresponse()
            self.assertEqual(events.read1(100), b": open\nretry: 5000\n\n")
            with socket.socket() as free:
                free.bind(("127.0.0.1", 0))
                port = free.getsockname()[1]
            with open(web.config) as f:
                config = f.read()
            with open(web.config, "w") as f:
                f.write(config.replace("127.0.0.1:0", "127.0.0.1:%d" % port))
            web.agent.send_signal(signal.SIGHUP)
            try:
                rest = events.read()
            except http.client.IncompleteRead as cut:
                rest = cut.partial
            self.assertEqual(rest, b"")  # ended, not left hanging
            self.assertTrue(wait_until(lambda: "page is on https://127.0.0.1:%d" % port in web.said()))
            web.port = port
            self.assertEqual(web.request("GET", "/api/session", session=session)[0], 200)
            stream.close()


class ThrottleTest(unittest.TestCase):
    def test_failed_sign_ins_slow_the_next_try_per_user_and_per_address(self):
        with WebAgent(tls=False) as web:
            for _ in range(5):
                self.assertEqual(web.login("alice", "wrong")[0], 401)
            cases = [("alice", "127.0.0.1", 429), ("alice", "127.0.0.2", 429), ("bob", "127.0.0.1", 429),
                     ("bob", "127.0.0.3", 200)]
            for name, source, expected in cases:
                with self.subTest(name=name, source=source):
                    status, headers, answer = web.login(name, USERS[name][1], source)
                    self.assertEqual(status, expected, answer)
                    if expected == 429:
                        self.assertEqual(headers["Retry-After"], "15")
            self.assertIn("web: a failed sign-in as alice from 127.0.0.1", web.said())


class UsersFileTest(unittest.TestCase):
    def test_the_users_file_is_followed_and_kept_private(self):
        with WebAgent(tls=False) as web:
            alice, bob = web.sign_in("alice"), web.sign_in("bob")
            status, headers, _ = web.login("bob", USERS["bob"][1])
            self.assertNotIn("Secure", headers["Set-Cookie"])  # plain HTTP on loopback
            self.assertEqual(os.stat(web.users).st_mode & 0o777, 0o640)
            cli = [os.environ["DORVIK_CLI"], "web-user"]
            subprocess.run(cli + ["remove", "alice", "--file", web.users], check=True, capture_output=True)
            listed = subprocess.run(cli + ["list", "--file", web.users], check=True, capture_output=True, text=True)
            self.assertEqual(listed.stdout, "bob\tviewer\n")
            self.assertEqual(web.request("GET", "/api/session", session=alice)[0], 401)
            self.assertEqual(web.request("GET", "/api/session", session=bob)[0], 200)
            os.chmod(web.users, 0o644)
            self.assertEqual(web.request("GET", "/api/session", session=bob)[0], 401)
            self.assertEqual(web.login("bob", USERS["bob"][1])[0], 503)
            self.assertTrue(wait_until(lambda: "may be read by anyone" in web.said()))
            os.chmod(web.users, 0o640)
            self.assertEqual(web.login("bob", USERS["bob"][1])[0], 200)


class CheckTest(unittest.TestCase):
    def test_check_refuses_a_page_open_to_the_network_without_a_certificate(self):
        with tempfile.TemporaryDirectory() as folder:
            cert, key = make_certificate(folder)
            cases = [
                ("listen = 0.0.0.0:8443", 1, "is reachable from other computers: give cert-file and key-file"),
                ("listen = [::]:8443", 1, "is reachable from other computers"),
                ("listen = 192.168.1.20:8443", 1, "is reachable from other computers"),
                ("listen = localhost:8443", 1, "takes ADDRESS:PORT"),
                ("listen = 0.0.0.0:8443\ncert-file = %s" % cert, 1, "key-file is missing"),
                ("listen = 0.0.0.0:8443\ncert-file = %s\nkey-file = %s" % (cert, cert), 1, "cannot be used"),
                ("listen = 127.0.0.5:8443", 0, "web page on http://127.0.0.5:8443"),
                ("listen = [::1]:8443", 0, "web page on http://[::1]:8443"),
                ("listen = 0.0.0.0:8443\ncert-file = %s\nkey-file = %s" % (cert, key), 0, "web page on https://0.0.0.0:8443"),
            ]
            config = os.path.join(folder, "agent.conf")
            for web, code, said in cases:
                with self.subTest(web=web):
                    with open(config, "w") as f:
                        f.write("[web]\n%s\nusers-file = %s/none\n" % (web, folder))
                    check = subprocess.run([os.environ["DORVIK_AGENT"], "--config", config, "--check"],
                                           capture_output=True, text=True)
                    self.assertEqual(check.returncode, code, check.stderr)
                    self.assertIn(said, check.stdout + check.stderr)


if __name__ == "__main__":
    unittest.main()

"""The real dorvik-agent serving its page on loopback over a virtual reader, for the page's tests,
benchmarks and screenshots. Programs come from DORVIK_AGENT, DORVIK_CLI and DORVIK_VIRTUAL_READER."""

import http.client
import json
import os
import re
import signal
import ssl
import subprocess
import tempfile
import time

USERS = {"alice": ("admin", "alice-secret"), "bob": ("viewer", "bob-secret")}


def wait_until(condition, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def make_certificate(folder):
    """A self-signed certificate for 127.0.0.1, as the README makes one."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-days", "30", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    return cert, key


def add_user(users_file, name, role, password):
    subprocess.run([os.environ["DORVIK_CLI"], "web-user", "add", name, "--role", role, "--file", users_file],
                   input=password + "\n", text=True, check=True, capture_output=True)


class WebAgent:
    """Starts a virtual reader, writes users and a configuration in a temporary folder, starts the
    agent and waits until it says where the page is."""

    def __init__(self, tls=True, web="", log=None, site=None, people=None, doors=""):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name
        self.reader = subprocess.Popen([os.environ["DORVIK_VIRTUAL_READER"], "--quiet"], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, text=True, bufsize=1)
        port = self.reader.stdout.readline().strip().removeprefix("Port: ")
        self.users = os.path.join(self.dir, "web-users")
        for name, (role, password) in USERS.items():
            add_user(self.users, name, role, password)
        self.cert = None
        lines = ["[front]", "name = Front door", "port = " + port]
        if site:  # CSV as dorvik-cli import reads it: the door's names
            with open(os.path.join(self.dir, "site.csv"), "w") as f:
                f.write(site)
            subprocess.run([os.environ["DORVIK_CLI"], "import", os.path.join(self.dir, "site.csv"), "-o",
                            os.path.join(self.dir, "site.tdb")], check=True, capture_output=True)
            lines.append("site-file = site.tdb")
        if people is not None:  # the site list the page edits, in the agent's state folder
            self.people = os.path.join(self.dir, "site.csv")
            with open(self.people, "w") as f:
                f.write(people)
            lines.append("site-file = site.csv")
        lines.append(doors)
        lines += ["[log]", "path = " + (log or "access.db"),
                 "[web]", "listen = 127.0.0.1:0", "users-file = web-users"]
        if tls:
            self.cert, key = make_certificate(self.dir)
            lines += ["cert-file = cert.pem", "key-file = key.pem"]
        self.config = os.path.join(self.dir, "agent.conf")
        with open(self.config, "w") as f:
            f.write("\n".join(lines) + "\n" + web)
        env = dict(os.environ, RUNTIME_DIRECTORY=os.path.join(self.dir, "run"), STATE_DIRECTORY=self.dir)
        self.journal = os.path.join(self.dir, "agent.log")
        with open(self.journal, "w") as out:
            self.agent = subprocess.Popen([os.environ["DORVIK_AGENT"], "--config", self.config], stderr=out, env=env)
        found = {}
        if not wait_until(lambda: found.update(self._page()) or found, 15):
            self.agent.kill()
            raise RuntimeError("the agent did not serve its page:\n" + self.said())
        self.base, self.port = found["url"], found["port"]
        wait_until(lambda: "the reader holds" in self.said())

    def _page(self):
        m = re.search(r"web: the page is on (\w+://[^:]+:(\d+))", self.said())
        return {"url": m.group(1), "port": int(m.group(2))} if m else {}

    def said(self):
        with open(self.journal) as f:
            return f.read()

    def swipe(self, value):
        self.reader.stdin.write("%d\n" % value)
        self.reader.stdin.flush()

    def stop(self):
        """Stops the agent as systemd does; raises when it did not end cleanly."""
        try:
            if self.agent.poll() is None:
                self.agent.send_signal(signal.SIGTERM)
                self.agent.wait(10)
            if self.agent.returncode != 0:
                raise AssertionError("the agent ended with %d:\n%s" % (self.agent.returncode, self.said()))
        finally:
            if self.reader.poll() is None:
                self.reader.stdin.close()
                self.reader.wait(10)
            self.reader.stdout.close()
            self.folder.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    # ---- HTTP as a client sees it

    def connect(self, source="127.0.0.1", timeout=10):
        if self.cert:
            context = ssl.create_default_context(cafile=self.cert)
            return http.client.HTTPSConnection("127.0.0.1", self.port, context=context, timeout=timeout,
                                               source_address=(source, 0))
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout, source_address=(source, 0))

    def request(self, method, path, body=None, headers=None, session=None, source="127.0.0.1"):
        """Returns (status, headers, body bytes). session: a Session whose cookie and token go along."""
        headers = dict(headers or {})
        if isinstance(body, dict):
            body = json.dumps(body)
            headers.setdefault("Content-Type", "application/json")
        if session:
            headers.setdefault("Cookie", session.cookie)
            if method != "GET":
                headers.setdefault("X-Dorvik-Token", session.token)
        connection = self.connect(source)
        try:
            connection.request(method, path, body=body, headers=headers)
            response = connection.getresponse()
            return response.status, response.headers, response.read()
        finally:
            connection.close()

    def login(self, name, password, source="127.0.0.1"):
        """Returns (status, headers, the answer as JSON)."""
        status, headers, body = self.request("POST", "/api/login", {"user": name, "password": password}, source=source)
        return status, headers, json.loads(body)

    def sign_in(self, name):
        status, headers, answer = self.login(name, USERS[name][1])
        if status != 200:
            raise AssertionError("%s could not sign in: %d %s" % (name, status, answer))
        return Session(headers["Set-Cookie"].split(";")[0], answer["token"])


class Session:
    def __init__(self, cookie, token):
        self.cookie, self.token = cookie, token


def chrome(width=1280, height=900):
    """Debian's chromium, headless, through its chromedriver."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=%d,%d" % (width, height)):
        options.add_argument(argument)
    options.binary_location = "/usr/bin/chromium"
    options.accept_insecure_certs = True  # the test's own self-signed certificate
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)

"""The demo site: static pages under ../../site served on 127.0.0.1.

The server starts on first use (an ephemeral port, a daemon thread) and stops when the
process exits, so the suite needs nothing running beforehand. behave executes every
file of the steps folder as a step module; this one only defines functions, so that is
harmless, and the step modules import it as an ordinary module.
"""
import atexit
import functools
import os
import threading
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer

SITE_DIR = os.path.normpath(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "site"))

_lock = threading.Lock()
_server = None


class _QuietHandler(SimpleHTTPRequestHandler):
    """Serves SITE_DIR without writing a line per request to stderr."""

    def log_message(self, format, *args):  # noqa: A002 - signature of the base class
        pass


def _stop(server):
    server.shutdown()
    server.server_close()


def base_url():
    """The site's root URL (no trailing slash), starting the server when needed."""
    global _server
    with _lock:
        if _server is None:
            handler = functools.partial(_QuietHandler, directory=SITE_DIR)
            server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
            server.daemon_threads = True
            threading.Thread(target=server.serve_forever, name="demo-site", daemon=True).start()
            atexit.register(_stop, server)
            _server = server
        host, port = _server.server_address[:2]
    return "http://%s:%d" % (host, port)


def page_url(path):
    """Absolute URL of a page of the site, e.g. page_url("login.html")."""
    return base_url() + "/" + path.lstrip("/")

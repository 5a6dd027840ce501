"""The pages' HTTPS server: a self-signed certificate made now, and a static
file server for web/ in a child process of its own, ended by its pid.

Run as a script it is that child: page_server.py ROOT CERT KEY prints its port.
"""
import base64
import hashlib
import http.server
import os
import select
import ssl
import subprocess
import sys


def make_certificate(folder, names):
    """A throw-away certificate for names; returns (cert, key, base64 SHA-256 of its public key)."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "2", "-subj", f"/CN={names[0]}", "-keyout", key, "-out", cert,
                    "-addext", "subjectAltName=" + ",".join(f"DNS:{n}" for n in names)],
                   check=True, capture_output=True, timeout=60)
    public_pem = subprocess.run(["openssl", "x509", "-in", cert, "-pubkey", "-noout"],
                                check=True, capture_output=True, text=True, timeout=60).stdout
    der = base64.b64decode("".join(line for line in public_pem.splitlines() if not line.startswith("-----")))
    return cert, key, base64.b64encode(hashlib.sha256(der).digest()).decode("ascii")


class PageServer:
    def __init__(self, root, cert, key):
        self.process = subprocess.Popen([sys.executable, os.path.abspath(__file__), root, cert, key],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        self.port = None

    def wait_ready(self, timeout=30):
        ready, _, _ = select.select([self.process.stdout], [], [], timeout)
        line = self.process.stdout.readline() if ready else ""  # the child prints its port, or ends
        if not line.strip().isdigit():
            raise RuntimeError(f"the HTTPS page server did not report its port within {timeout} s")
        self.port = int(line)
        return self.port

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


class _Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, ".js": "text/javascript"}

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, *args):
        pass


def _serve(root, cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    handler = lambda *args: _Handler(*args, directory=root)  # noqa: E731
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    _serve(*sys.argv[1:4])

#!/usr/bin/env python3
"""A local RFC 3161 time-stamp authority for the signing tests: answers each POSTed request with
`openssl ts -reply` and the configuration given, on 127.0.0.1 at a free port, which it writes to the
port file. Usage: timestamp-responder.py TSA_CONFIG PORT_FILE"""
import http.server
import os
import subprocess
import sys
import tempfile

config, port_file = sys.argv[1], sys.argv[2]


class Responder(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as folder:
            request, reply = os.path.join(folder, "request.tsq"), os.path.join(folder, "reply.tsr")
            with open(request, "wb") as out:
                out.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", request,
                                   "-out", reply], capture_output=True, cwd=os.path.dirname(config))
            if done.returncode != 0:
                self.send_error(500, done.stderr.decode(errors="replace")[:200])
                return
            with open(reply, "rb") as answer:
                body = answer.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Responder)
with open(port_file + ".tmp", "w") as out:
    out.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()

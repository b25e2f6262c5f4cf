# SPDX-License-Identifier: GPL-2.0-or-later
"""A wiki that answers like an attacker would, on 127.0.0.1 and a free port.

It speaks just enough of DokuWiki's XML-RPC API for a login and a page or a
media file to be written, and answers the method named `at` (every call of
it) with the attack `mode`:

  gzip-bomb   a small gzip body that expands to about a gigabyte
  huge        a plain answer of `size` bytes, streamed
  laughs      a "billion laughs" document: nested entity declarations
  trickle     a valid answer sent a few bytes a second
  lost        the call is carried out, then the connection is dropped
              without an answer (a write whose answer was lost); only the
              first call of the method, or the first `size` calls
  fault       a fault whose text holds terminal control sequences

Pages and media written are kept in `pages` and `media`; `calls` lists the
methods in the order they came.
"""
import http.server
import socket
import socketserver
import threading
import time
import xmlrpc.client
import zlib

HEADER = b'<?xml version="1.0"?>\n'


def response(value):
    return xmlrpc.client.dumps((value,), methodresponse=True, allow_none=True).encode()


def fault(code, text):
    return xmlrpc.client.dumps(xmlrpc.client.Fault(code, text), methodresponse=True).encode()


def gzip_bomb(expanded):
    """A gzip stream of `expanded` bytes of an endless string answer, compressed in pieces."""
    out = zlib.compressobj(9, zlib.DEFLATED, 31)
    parts = [out.compress(HEADER + b"<methodResponse><params><param><value><string>")]
    block = b"A" * (1 << 20)
    for _ in range(expanded >> 20):
        parts.append(out.compress(block))
    parts.append(out.compress(b"</string></value></param></params></methodResponse>"))
    parts.append(out.flush())
    return b"".join(parts)


def laughs(depth=11):
    entities = ['<!ENTITY l0 "lol">'] + ['<!ENTITY l%d "%s">' % (i, ("&l%d;" % (i - 1)) * 10)
                                         for i in range(1, depth + 1)]
    return (HEADER + b"<!DOCTYPE lolz [" + "".join(entities).encode() + b"]>"
            + b"<methodResponse><params><param><value><string>&l%d;</string></value></param>"
            % depth + b"</params></methodResponse>")


class HostileWiki:
    def __init__(self, mode, at="dokuwiki.getXMLRPCAPIVersion", size=None):
        size = size if size is not None else (1 if mode == "lost" else 200 << 20)
        self.mode = mode
        self.at = at
        self.size = size
        self.pages = {}
        self.media = {}
        self.calls = []
        self.lock = threading.Lock()
        self.bomb = gzip_bomb(1 << 30) if mode == "gzip-bomb" else b""
        wiki = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                wiki.handle(self, body)

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True
            allow_reuse_address = True

            def handle_error(self, request, client_address):
                pass  # a client that hangs up on an attack is what the tests expect

        self.server = Server(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        self.url = "http://127.0.0.1:%d/" % self.port
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def answer(self, method, params):
        if method == "dokuwiki.getXMLRPCAPIVersion":
            return response(10)
        if method == "dokuwiki.login":
            return response(True)
        if method == "dokuwiki.getVersion":
            return response("Release 2023-04-04 \"Jack Jackrum\"")
        if method == "wiki.aclCheck":
            return response(255)  # every right: the attacks come later
        if method == "wiki.getPageInfo":
            if params[0] in self.pages:
                return response({"name": params[0], "version": 1, "author": "tester"})
            return fault(121, "The requested page does not exist")
        if method == "wiki.getPage":
            return response(self.pages.get(params[0], ""))
        if method == "wiki.putPage":
            self.pages[params[0]] = params[1]
            return response(True)
        if method == "wiki.getAttachmentInfo":
            data = self.media.get(params[0])
            return response({"size": len(data), "lastModified": 1} if data is not None else
                            {"size": 0, "lastModified": 0})
        if method == "wiki.getAttachment":
            return response(xmlrpc.client.Binary(self.media.get(params[0], b"")))
        if method == "wiki.putAttachment":
            if params[0] in self.media and not params[2].get("ow"):
                return fault(-1, "File already exists")
            self.media[params[0]] = params[1].data
            return response(params[0])
        return fault(-32601, "unknown method " + method)

    def handle(self, request, body):
        params, method = xmlrpc.client.loads(body, use_builtin_types=False)
        with self.lock:
            self.calls.append(method)
        send = request.wfile
        if method != self.at:
            data = self.answer(method, params)
            request.send_response(200)
            request.send_header("Content-Type", "text/xml")
            request.send_header("Content-Length", str(len(data)))
            request.end_headers()
            send.write(data)
            return
        if self.mode == "lost" and self.calls.count(method) > self.size:
            data = self.answer(method, params)
        elif self.mode == "lost":
            self.answer(method, params)
            request.connection.shutdown(socket.SHUT_RDWR)
            request.close_connection = True
            return
        if self.mode == "fault":
            # C1 controls are valid XML: CSI (U+009B) clears a terminal's screen
            data = fault(1, "refused \u009b2J\u009d0;owned\u009c by the wiki")
        elif self.mode == "lost":
            pass
        elif self.mode == "laughs":
            data = laughs()
        elif self.mode == "gzip-bomb":
            data = self.bomb
        else:
            data = None
        request.send_response(200)
        request.send_header("Content-Type", "text/xml")
        if self.mode == "gzip-bomb":
            request.send_header("Content-Encoding", "gzip")
        if self.mode == "huge":
            request.send_header("Content-Length", str(self.size))
            request.end_headers()
            try:
                head = HEADER + b"<methodResponse><params><param><value><string>"
                tail = b"</string></value></param></params></methodResponse>"
                send.write(head)
                block = b"A" * (1 << 20)
                left = self.size - len(head) - len(tail)
                while left > 0:
                    send.write(block[:left])
                    left -= len(block)
                send.write(tail)
            except OSError:
                pass
            return
        if self.mode == "trickle":
            data = self.answer(method, params)
            request.send_header("Content-Length", str(len(data)))
            request.end_headers()
            try:
                for i in range(0, len(data), 4):
                    send.write(data[i:i + 4])
                    send.flush()
                    time.sleep(1)
            except OSError:
                pass
            return
        request.send_header("Content-Length", str(len(data)))
        request.end_headers()
        try:
            send.write(data)
        except OSError:
            pass

    def close(self):
        self.server.shutdown()
        self.server.server_close()

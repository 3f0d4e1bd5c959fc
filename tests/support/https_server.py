"""A small HTTPS server for the tests: answers every GET with the given body, on 127.0.0.1.

usage: https_server.py PORT CERT KEY BODY
"""
import http.server
import ssl
import sys


def main():
    port, cert, key, body = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4].encode()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    server = http.server.HTTPServer(("127.0.0.1", port), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

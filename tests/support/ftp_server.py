"""A small FTP server for the tests: one user with a password and full rights on a
temporary root, listening on 127.0.0.1 only.

usage: ftp_server.py ROOT PORT USER PASSWORD [--masquerade ADDRESS] [--throttle BYTES] [--no-rename]
                     [--bind ADDRESS]

--masquerade makes the server announce ADDRESS in its PASV replies, so a test can check
that the client connects to the control connection's peer instead. --throttle takes at most
BYTES per second on a data connection, so a test can break a transfer half way; --no-rename
refuses every rename; --bind listens on ADDRESS instead of 127.0.0.1 (a test network).
"""
import argparse
import logging
import sys

# The server speaks plain FTP only; without pyOpenSSL, which pyftpdlib would load for TLS,
# it starts in half the time.
sys.modules["OpenSSL"] = None

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("port", type=int)
    parser.add_argument("user")
    parser.add_argument("password")
    parser.add_argument("--masquerade", default=None)
    parser.add_argument("--throttle", type=int, default=0)
    parser.add_argument("--no-rename", action="store_true")
    parser.add_argument("--bind", default="127.0.0.1")
    args = parser.parse_args()

    logging.basicConfig(level=logging.DEBUG)
    authorizer = DummyAuthorizer()
    perm = "elradmwMT" if args.no_rename else "elradfmwMT"
    authorizer.add_user(args.user, args.password, args.root, perm=perm)

    class Handler(FTPHandler):
        banner = "Pelorix test server ready."
        auth_failed_timeout = 0.1

    Handler.authorizer = authorizer
    if args.masquerade:
        Handler.masquerade_address = args.masquerade
    if args.throttle:
        ThrottledDTPHandler.read_limit = args.throttle
        Handler.dtp_handler = ThrottledDTPHandler
    server = FTPServer((args.bind, args.port), Handler)
    server.serve_forever()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""A real SMTP server for the mail tests (aiosmtpd from Debian).

Every accepted message is stored in the given directory as msgN.eml (the bytes as received)
and msgN.txt, the envelope and the message as Python's email package reads it, one
"key<TAB>value" line each in UTF-8: mail_from, rcpt (one per recipient), authenticated,
header (name and decoded value, separated by ": "), body (one per body line).

    smtp_server.py --port 25 --dir /tmp/x [--auth user:password]
                   [--cert cert.pem --key key.pem (--starttls | --tls)]

With --auth, AUTH LOGIN is offered on the plain connection with the challenges common
servers send ("Username:", "Password:"), and only those credentials are accepted. With a
certificate, --starttls requires STARTTLS before anything else (AUTH PLAIN and LOGIN offered
only over TLS, as a submission server on port 587 does), and --tls speaks TLS from the first
byte (as on port 465).
"""

import argparse
import email
import email.policy
import os
import signal
import ssl
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class StoreHandler:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            number = self.count
        raw = envelope.original_content or envelope.content
        if isinstance(raw, str):
            raw = raw.encode("latin-1")
        message = email.message_from_bytes(raw, policy=email.policy.default)
        body = message.get_payload(decode=True) if not message.is_multipart() else b""
        lines = ["mail_from\t" + envelope.mail_from]
        lines += ["rcpt\t" + rcpt for rcpt in envelope.rcpt_tos]
        lines.append("authenticated\t%d" % bool(getattr(session, "authenticated", False)))
        lines += ["header\t%s: %s" % (name, value) for name, value in message.items()]
        if body:
            lines += ["body\t" + line for line in body.decode("latin-1").split("\r\n")]
        base = os.path.join(self.directory, "msg%d" % number)
        with open(base + ".eml", "wb") as out:
            out.write(raw)
        # Written first under another name, so a reader never sees half a record.
        with open(base + ".tmp", "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")
        os.rename(base + ".tmp", base + ".txt")
        return "250 Message accepted for delivery"


class CommonChallengeSMTP(SMTP):
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


class TestController(Controller):
    def factory(self):
        return CommonChallengeSMTP(self.handler, **self.SMTP_kwargs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--auth", default="")
    parser.add_argument("--cert", default="")
    parser.add_argument("--key", default="")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--tls", action="store_true")
    args = parser.parse_args()

    kwargs = {"decode_data": False, "enable_SMTPUTF8": False}
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    if args.auth:
        user, password = args.auth.split(":", 1)

        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == user
                  and auth_data.password.decode() == password)
            # handled=False lets the server answer the refusal with its 535 reply.
            return AuthResult(success=ok, handled=ok)

        if context is None:
            kwargs.update(authenticator=authenticator, auth_require_tls=False, auth_exclude_mechanism=["PLAIN"])
        else:
            kwargs.update(authenticator=authenticator, auth_require_tls=not args.tls)
    if args.starttls:
        kwargs.update(tls_context=context, require_starttls=True)
    extra = {"ssl_context": context} if args.tls else {}

    controller = TestController(StoreHandler(args.dir), hostname="127.0.0.1", port=args.port,
                                server_hostname="mail.test", **extra, **kwargs)
    # Every record is complete on disk before its reply goes out, so a stop needs no clean-up.
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    signal.signal(signal.SIGINT, lambda *_: os._exit(0))
    controller.start()
    while True:
        signal.pause()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""A real FTP server for tests and benchmarks: pyftpdlib on 127.0.0.1.

Usage: ftpserver.py ROOT [silent]
Prints the port it listens on as its first line. With "silent" it is no FTP
server at all: it accepts connections and never says a word (for checks of
how a client waits). It exits when its standard input closes, so it never
outlives the test or script that started it.
"""
import logging
import os
import socket
import sys
import threading


def exit_when_parent_goes():
    sys.stdin.read()
    os._exit(0)


def serve_silently():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    kept = []
    while True:
        connection, _ = listener.accept()
        kept.append(connection)


def serve_ftp(root):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer

    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user("kirosu", "tovel4417", root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), handler)
    server.max_cons = 16
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=False)


def main():
    threading.Thread(target=exit_when_parent_goes, daemon=True).start()
    if len(sys.argv) > 2 and sys.argv[2] == "silent":
        serve_silently()
    else:
        serve_ftp(sys.argv[1])


if __name__ == "__main__":
    main()

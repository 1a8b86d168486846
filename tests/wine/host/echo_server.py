#!/usr/bin/env python3
"""Loopback echo servers for the Wine host test.

Listens on 127.0.0.1: one plain port and one TLS port per certificate given.
Each connection gets back what it sends; a piece holding the line "LATER" comes
back after 0.3 s; after a line "QUIT" the server closes the connection (a TLS
connection with a close_notify first). Writes the ports, in the order
plain, then the certificates, then a port where nothing listens, to PORTS_FILE
once everything listens.
"""
import argparse
import os
import socket
import ssl
import threading
import time


def echo(conn):
    try:
        tail = b""
        while True:
            data = conn.recv(65536)
            if not data:
                return
            if b"LATER\r\n" in data:
                time.sleep(0.3)
            conn.sendall(data)
            tail = (tail + data)[-6:]
            if tail == b"QUIT\r\n":
                break
        if isinstance(conn, ssl.SSLSocket):
            conn.settimeout(2)
            conn.unwrap()
    except (OSError, ValueError):
        pass
    finally:
        conn.close()


def serve(listener, context):
    while True:
        conn, _ = listener.accept()

        def handle(conn=conn):
            try:
                if context:
                    conn.settimeout(10)
                    conn = context.wrap_socket(conn, server_side=True)
                    conn.settimeout(None)
            except (OSError, ssl.SSLError):
                conn.close()
                return
            echo(conn)

        threading.Thread(target=handle, daemon=True).start()


def listen():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    return listener


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("ports_file")
    parser.add_argument("certificates", nargs="*", metavar="CERT:KEY")
    args = parser.parse_args()

    contexts = [None]
    for pair in args.certificates:
        cert, key = pair.split(":")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        contexts.append(context)
    listeners = [listen() for _ in contexts]
    with listen() as unused:
        refused = unused.getsockname()[1]
    ports = [l.getsockname()[1] for l in listeners] + [refused]

    threads = [threading.Thread(target=serve, args=(l, c), daemon=True) for l, c in zip(listeners, contexts)]
    for thread in threads:
        thread.start()
    with open(args.ports_file + ".tmp", "w") as out:
        out.write(" ".join(map(str, ports)) + "\n")
    os.rename(args.ports_file + ".tmp", args.ports_file)
    for thread in threads:
        thread.join()


if __name__ == "__main__":
    main()

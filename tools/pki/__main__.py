"""Command line for shell scripts: `PYTHONPATH=tools python3 -m pki <command> ...`.

  tls OUT                       TLS CA, server certificate for 127.0.0.1, foreign CA
  codesign OUT --crl-port N     code-signing PKI naming CRLs at http://127.0.0.1:N/
  reg OUT.reg CERT...           REGEDIT4 file trusting CERT (PEM or DER) as roots
  sign IN OUT --pki DIR --signer NAME [--nest]
                                sign a PE with a leaf of a code-signing PKI folder
"""

import argparse
import sys
from pathlib import Path

from .authenticode import sign_pe
from .codesign import make_codesign_pki
from .openssl import Cert
from .tls import make_tls_pki
from .winstore import write_store_reg


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="pki", description="test PKI for the updater's tests")
    commands = parser.add_subparsers(dest="command", required=True)
    tls = commands.add_parser("tls")
    tls.add_argument("out")
    codesign = commands.add_parser("codesign")
    codesign.add_argument("out")
    codesign.add_argument("--crl-port", type=int, required=True)
    reg = commands.add_parser("reg")
    reg.add_argument("out")
    reg.add_argument("certs", nargs="+")
    reg.add_argument("--store", default="Root")
    sign = commands.add_parser("sign")
    sign.add_argument("src")
    sign.add_argument("dst")
    sign.add_argument("--pki", required=True, help="folder made by the codesign command")
    sign.add_argument("--signer", required=True, help="leaf file name, e.g. orvane-inc")
    sign.add_argument("--nest", action="store_true")
    args = parser.parse_args(argv)

    if args.command == "tls":
        made = make_tls_pki(args.out)
        print(f"ca {made.ca.cert}\nserver {made.server.chain} {made.server.key}")
    elif args.command == "codesign":
        made = make_codesign_pki(args.out, args.crl_port)
        print(f"root {made.root.cert}\ncrl {made.crl_folder}")
    elif args.command == "reg":
        write_store_reg(args.out, *args.certs, store=args.store)
    elif args.command == "sign":
        folder = Path(args.pki)
        leaf = Cert(name=args.signer, subject="", cert=folder / f"{args.signer}.pem",
                    der=folder / f"{args.signer}.cer", key=folder / f"{args.signer}.key",
                    chain=folder / f"{args.signer}.chain.pem", serial=0)
        sign_pe(args.src, args.dst, leaf, nest=args.nest)
    return 0


if __name__ == "__main__":
    sys.exit(main())

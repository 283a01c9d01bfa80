#!/usr/bin/python3
"""Recomputes the AWS Signature Version 4 of a captured request with botocore, the reference
implementation, and prints the Authorization header it yields.

Reads JSON on standard input: {"method", "url", "headers": {name: value}, "body",
"access_key", "secret_key", "region", "service"}. The request's own X-Amz-Date is reused, and
only the headers the request says it signed are given to botocore.
"""
import datetime
import json
import sys
from unittest import mock

from botocore.auth import SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials


def main():
    captured = json.load(sys.stdin)
    headers = {k.lower(): v for k, v in captured["headers"].items()}
    signed = headers["authorization"].split("SignedHeaders=")[1].split(",")[0].split(";")
    amz_date = headers["x-amz-date"]
    request = AWSRequest(
        method=captured["method"],
        url=captured["url"],
        data=captured["body"].encode("utf-8"),
        headers={name: headers[name] for name in signed if name not in ("host", "x-amz-date")},
    )
    moment = datetime.datetime.strptime(amz_date, "%Y%m%dT%H%M%SZ")
    with mock.patch("botocore.auth.datetime") as fake:
        fake.datetime.utcnow.return_value = moment
        fake.datetime.now.return_value = moment
        fake.datetime.strptime = datetime.datetime.strptime
        SigV4Auth(Credentials(captured["access_key"], captured["secret_key"]), captured["service"], captured["region"]).add_auth(request)
    print(request.headers["Authorization"])


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Signs requests with botocore's SigV4Auth, the reference the signer and worker tests
compare against.

Reads a JSON list of cases on standard input, each with method, url (path and host only),
query (list of [name, value] pairs, already decoded), headers (object), body (Base64),
accessKeyID, secretAccessKey, optional sessionToken, region, service and amzDate. Writes a JSON
list with each case's Authorization header.

Run it with Debian's /usr/bin/python3, which has python3-botocore.
"""

import base64
import datetime
import json
import sys
import types

import botocore.auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials


def sign(case):
    fixed = datetime.datetime.strptime(case["amzDate"], "%Y%m%dT%H%M%SZ")

    class FixedClock(datetime.datetime):
        @classmethod
        def utcnow(cls):
            return fixed

    # add_auth reads the clock itself; give it the case's date.
    botocore.auth.datetime = types.SimpleNamespace(datetime=FixedClock)
    request = AWSRequest(
        method=case["method"],
        url=case["url"],
        headers=dict(case["headers"]),
        data=base64.b64decode(case["body"]),
        params=[tuple(pair) for pair in case["query"]],
    )
    credentials = Credentials(
        case["accessKeyID"], case["secretAccessKey"], case.get("sessionToken") or None
    )
    botocore.auth.SigV4Auth(credentials, case["service"], case["region"]).add_auth(request)
    return request.headers["Authorization"]


if __name__ == "__main__":
    json.dump([sign(case) for case in json.load(sys.stdin)], sys.stdout)

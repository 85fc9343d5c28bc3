#!/bin/sh
# brimlow-config turns a configuration into the server's reply and back, and refuses what the
# program would not accept.
set -u
tool=$1
failures=0

check() { # description expected actual
    if [ "$2" != "$3" ]; then
        printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}

# Known replies, made independently of the program.
check "encode" "fauM2buZWanpgbvpQMuEjCy4SM" "$(printf 'config\nno\n1.1\n2.1' | "$tool" encode)"
check "encode ignores a final line feed" "faufauwYv5mZpdmCu9mCx4SMKIjLx4SM" \
    "$(printf 'config\nno\n1.1\n2.1.1\n' | "$tool" encode)"
check "decode" "$(printf 'config\nyes\n1.1\n2.1')" "$(printf 'j9mbml2ZKkXZzpQMuEjCy4SM' | "$tool" decode)"
check "decode writes no line feed of its own" "17" \
    "$(printf 'fauM2buZWanpgbvpQMuEjCy4SM' | "$tool" decode | wc -c | tr -d ' ')"
check "a fau inside the Base64 text" "$(printf 'config\n\305\217\344\271\247\n1.1\n2.1')" \
    "$(printf 'fauM2buZWanpwjFfaukrQMuEjCy4SM' | "$tool" decode)"

refused() { # description command input
    if printf "$3" | "$tool" "$2" >/dev/null 2>&1; then
        printf 'FAIL: %s was accepted\n' "$1"
        failures=$((failures + 1))
    fi
}
refused "five lines" encode 'config\nno\n1.1\n2.1\n\n'
refused "carriage returns" encode 'config\r\nno\r\n1.1\r\n2.1'
refused "a wrong first line" encode 'Config\nno\n1.1\n2.1'
refused "text that is not UTF-8" encode 'config\n\377\n1.1\n2.1'
refused "a reply with a line feed" decode 'fauM2buZWanpgbvpQMuEjCy4SM\n'
refused "a reply carrying carriage returns" decode 'fauM2buZWanpQDu9mCNEjLxoQDy4SM'

"$tool" >/dev/null 2>&1
check "no command is a usage error" "2" "$?"

exit $((failures != 0))

#!/usr/bin/env python3
"""Builds share/sao.cty, the station file of the station database.

Source: the station list of the Debian package weather-util-data
(/usr/share/weather-util/stations.gz), compiled from public-domain NOAA/NWS station
tables. Every station with a known position becomes one line:

    NAME STATE REGION IDENTIFIER PRIORITY LATITUDE LONGITUDE ELEVATION WMO NUMBER

The source has no elevations or WMO numbers: ELEVATION is written as 9999 (read back as
missing) and WMO as 99999 (no number). PRIORITY 2 marks international airports, 4 other
stations outside the dense North American network, 5 stations inside it.

Usage: make_sao_cty.py [stations.gz] [output]   (apt-get install weather-util-data first)
"""
import gzip
import math
import re
import sys
import unicodedata

SOURCE = "/usr/share/weather-util/stations.gz"
OUTPUT = "share/sao.cty"

COUNTRIES = {
    "united states": "US", "united states of america": "US", "canada": "CA", "japan": "JP",
    "france": "FR", "italy": "IT", "brazil": "BR", "united kingdom": "GB", "germany": "DE",
    "mexico": "MX", "iran": "IR", "norway": "NO", "spain": "ES", "russia": "RU", "argentina": "AR",
    "turkey": "TR", "india": "IN", "sweden": "SE", "algeria": "DZ", "china": "CN", "greece": "GR",
    "australia": "AU", "saudi arabia": "SA", "colombia": "CO", "bolivia": "BO", "finland": "FI",
    "south africa": "ZA", "peru": "PE", "netherlands": "NL", "venezuela": "VE", "thailand": "TH",
    "malaysia": "MY", "morocco": "MA", "romania": "RO", "chile": "CL", "portugal": "PT",
    "kenya": "KE", "tunisia": "TN", "tanzania": "TZ", "nigeria": "NG", "denmark": "DK",
    "honduras": "HN", "senegal": "SN", "mozambique": "MZ", "belgium": "BE", "indonesia": "ID",
    "egypt": "EG", "cuba": "CU", "philippines": "PH", "austria": "AT", "switzerland": "CH",
    "poland": "PL", "kazakhstan": "KZ", "gabon": "GA", "ecuador": "EC", "croatia": "HR",
    "namibia": "NA", "iceland": "IS", "guatemala": "GT", "united arab emirates": "AE",
    "niger": "NE", "nicaragua": "NI", "madagascar": "MG", "uruguay": "UY", "taiwan": "TW",
    "pakistan": "PK", "hungary": "HU", "greenland": "GL", "el salvador": "SV",
    "dominican republic": "DO", "zimbabwe": "ZW", "uzbekistan": "UZ", "slovakia": "SK",
    "serbia and montenegro": "RS", "paraguay": "PY", "new zealand": "NZ", "ireland": "IE",
    "estonia": "EE", "czech republic": "CZ", "chad": "TD", "bulgaria": "BG", "belarus": "BY",
    "vietnam": "VN", "vanuatu": "VU", "syria": "SY", "swaziland": "SZ", "sudan": "SD",
    "panama": "PA", "oman": "OM", "netherlands antilles": "CW", "mali": "ML", "lithuania": "LT",
    "cyprus": "CY", "costa rica": "CR", "cameroon": "CM", "bosnia and herzegovina": "BA",
    "angola": "AO", "yemen": "YE", "togo": "TG", "slovenia": "SI", "mauritania": "MR",
    "marshall islands": "MH", "laos": "LA", "jordan": "JO", "israel": "IL", "fiji": "FJ",
    "cote d'ivoire": "CI", "botswana": "BW", "virgin islands": "VI", "trinidad and tobago": "TT",
    "tonga": "TO", "sri lanka": "LK", "singapore": "SG", "saint lucia": "LC", "reunion": "RE",
    "mauritius": "MU", "malawi": "MW", "latvia": "LV", "jamaica": "JM", "haiti": "HT",
    "guinea": "GN", "ethiopia": "ET", "dominica": "DM", "cook islands": "CK", "comoros": "KM",
    "christmas island": "CX", "central african republic": "CF", "cayman islands": "KY",
    "cambodia": "KH", "burkina faso": "BF", "azerbaijan": "AZ", "antigua and barbuda": "AG",
    "antarctica": "AQ", "zambia": "ZM", "united states minor outlying islands": "UM",
    "uganda": "UG", "tuvalu": "TV", "turks and caicos islands": "TC", "turkmenistan": "TM",
    "tajikistan": "TJ", "suriname": "SR", "south georgia and the islands": "GS", "somalia": "SO",
    "solomon islands": "SB", "sierra leone": "SL", "seychelles": "SC",
    "sao tome and principe": "ST", "samoa": "WS", "saint pierre and miquelon": "PM",
    "saint kitts and nevis": "KN", "saint helena": "SH", "rwanda": "RW", "qatar": "QA",
    "papua new guinea": "PG", "palau": "PW", "new caledonia": "NC", "nepal": "NP",
    "myanmar": "MM", "mongolia": "MN", "moldova": "MD", "martinique": "MQ", "malta": "MT",
    "maldives": "MV", "macau": "MO", "luxembourg": "LU", "libya": "LY", "liberia": "LR",
    "lesotho": "LS", "lebanon": "LB", "kuwait": "KW", "kiribati": "KI", "islas malvinas": "FK",
    "hong kong": "HK", "guyana": "GY", "guinea-bissau": "GW", "guadeloupe": "GP",
    "grenada": "GD", "gibraltar": "GI", "ghana": "GH", "french polynesia": "PF",
    "french guiana": "GF", "equatorial guinea": "GQ", "djibouti": "DJ", "cape verde": "CV",
    "burundi": "BI", "brunei": "BN", "british virgin islands": "VG",
    "british indian ocean territory": "IO", "bermuda": "BM", "benin": "BJ", "belize": "BZ",
    "barbados": "BB", "bangladesh": "BD", "bahrain": "BH", "aruba": "AW", "anguilla": "AI",
    "albania": "AL", "ukraine": "UA", "georgia": "GE", "armenia": "AM", "kyrgyzstan": "KG",
    "iraq": "IQ", "afghanistan": "AF", "korea": "KR", "south korea": "KR", "bahamas": "BS",
    "puerto rico": "PR", "guam": "GU", "eritrea": "ER", "gambia": "GM", "macedonia": "MK",
    "north macedonia": "MK", "serbia": "RS", "montenegro": "ME", "kosovo": "XK",
}
# Country names the source splits at a comma ("Korea, South").
QUALIFIED = {
    ("korea", "south"): "KR", ("korea", "north"): "KP", ("bahamas", "the"): "BS",
    ("gambia", "the"): "GM", ("congo", "republic of the"): "CG",
    ("congo", "democratic republic of the"): "CD", ("micronesia", "federated states of"): "FM",
    ("macedonia", "the republic of"): "MK",
}
NORTH_AMERICA = {"US", "CA"}


def ascii_word(text, limit):
    text = unicodedata.normalize("NFKD", text).encode("ascii", "ignore").decode()
    text = re.sub(r"[^A-Za-z0-9.'()-]+", "_", text.strip()).strip("_")
    return text[:limit] or "Unknown"


def parse_description(desc):
    parts = [p.strip() for p in desc.split(",")]
    name = parts[0].split(" / ")[0]
    state = "--"
    region = "--"
    last = parts[-1]
    if len(parts) >= 3 and (parts[-2].lower(), last.lower()) in QUALIFIED:
        region = QUALIFIED[(parts[-2].lower(), last.lower())]
    elif re.fullmatch(r"[A-Z]{2}", last):
        region = last
    elif last.lower() in COUNTRIES:
        region = COUNTRIES[last.lower()]
    if region == "US" and len(parts) >= 3 and re.fullmatch(r"[A-Z]{2}", parts[-2]):
        state = parts[-2]
    return name, state, region


def stations(path):
    record = {}
    with gzip.open(path, "rt", encoding="utf-8", errors="replace") as source:
        for line in source:
            line = line.strip()
            if line.startswith("["):
                if record:
                    yield record
                record = {"id": line.strip("[]").upper()}
            elif " = " in line and record:
                key, value = line.split(" = ", 1)
                record[key] = value
    if record:
        yield record


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else SOURCE
    output = sys.argv[2] if len(sys.argv) > 2 else OUTPUT
    lines = []
    for station in stations(source):
        match = re.fullmatch(r"\(\s*(-?[\d.]+),\s*(-?[\d.]+)\)", station.get("location", ""))
        ident = station["id"]
        if not match or not re.fullmatch(r"[A-Z0-9]{3,9}", ident):
            continue
        lat = math.degrees(float(match.group(1)))
        lon = math.degrees(float(match.group(2)))
        desc = station.get("description", "")
        name, state, region = parse_description(desc)
        if "international" in desc.lower():
            prior = 2
        elif region in NORTH_AMERICA:
            prior = 5
        else:
            prior = 4
        lines.append("%-20s %-2s %-2s %-5s %d %7.2f %8.2f %5d %5d %5d" % (
            ascii_word(name, 20), state, region, ident, prior, lat, lon, 9999, 99999, len(lines) + 1))
    with open(output, "w", encoding="ascii") as out:
        out.write("\n".join(lines) + "\n")
    print("%d stations written to %s" % (len(lines), output))


if __name__ == "__main__":
    main()

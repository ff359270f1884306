#!/usr/bin/env python3
"""Writes the project's test cards. They are committed as bytes; this script
says how each was made and makes them again (python3 make_test_cards.py)."""
import os
D = os.path.dirname(os.path.abspath(__file__)) + '/'
def w(name, data):
    with open(D + name, 'wb') as f: f.write(data)
crlf = lambda s: s.replace('\n', '\r\n')

# Outlook-style vCard 2.1: Windows-1252 quoted-printable, soft breaks (one in the
# middle of a word, one before a blank), =0D=0A line ends inside ADR and LABEL.
w('outlook21_qp_cp1252.vcf', crlf(
"BEGIN:VCARD\n"
"VERSION:2.1\n"
"N;LANGUAGE=de;CHARSET=Windows-1252;ENCODING=QUOTED-PRINTABLE:M=FCller;J=FCrgen;;Dr.;\n"
"FN;CHARSET=Windows-1252;ENCODING=QUOTED-PRINTABLE:Dr. J=FCrgen M=FCller\n"
"ORG;CHARSET=Windows-1252;ENCODING=QUOTED-PRINTABLE:B=E4ckerei =\n"
"Sch=F6n;Vertrieb\n"
"TITLE:Gesch\xe4ftsf\xfchrer\n"
"TEL;WORK;VOICE:+49 30 1234567\n"
"TEL;HOME;FAX:+49 30 7654321\n"
"ADR;WORK;PREF;ENCODING=QUOTED-PRINTABLE;CHARSET=Windows-1252:;;Stra=DFe des 17. J=\n"
"uni 5;Berlin;;10623;Deutschland\n"
"LABEL;WORK;PREF;ENCODING=QUOTED-PRINTABLE;CHARSET=Windows-1252:Stra=DFe des 17. Juni 5=0D=0A=\n"
"10623 Berlin\n"
"NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=Windows-1252:Kunde seit 1998. Lieferung imm=\n"
"er montags, =E0 la carte=0D=0AZahlung: 30 Tage =80\n"
"EMAIL;PREF;INTERNET:juergen.mueller@example.de\n"
"REV:20240117T101500Z\n"
"END:VCARD\n").encode('latin-1'))

# Android-style vCard 2.1: UTF-8 in quoted-printable, a photo in base64 folded
# with blanks, a blank line after the photo, two cards.
photo = "/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAP//////////////////////////////////////////////////////////////////////////////////////wAALCAABAAEBAREA/8QAFAABAAAAAAAAAAAAAAAAAAAAA//EABQQAQAAAAAAAAAAAAAAAAAAAAD/2gAIAQEAAD8AN//Z"
lines = ["    " + photo[i:i+72] for i in range(0, len(photo), 72)]
w('android21_qp_utf8.vcf', crlf(
"BEGIN:VCARD\n"
"VERSION:2.1\n"
"N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=98=D0=B2=D0=B0=D0=BD=D0=BE=D0=B2=D0=B0;=D0=90=D0=BD=D0=BD=D0=B0;;;\n"
"FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=90=D0=BD=D0=BD=D0=B0 =D0=98=D0=B2=D0=B0=D0=BD=D0=BE=D0=B2=D0=B0\n"
"TEL;CELL;PREF:+7 495 123-45-67\n"
"TEL;HOME:+7 495 765-43-21\n"
"EMAIL;HOME:anna.ivanova@example.ru\n"
"PHOTO;ENCODING=BASE64;JPEG:" + photo[:0] + "\n" + "\n".join(lines) + "\n"
"\n"
"END:VCARD\n"
"BEGIN:VCARD\n"
"VERSION:2.1\n"
"N:Kowalski;Piotr;;;\n"
"FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Piotr Kowalski =C5=81=C3=B3d=C5=BA\n"
"TEL;WORK:+48 42 555 01 02\n"
"X-ANDROID-CUSTOM:vnd.android.cursor.item/nickname;Piotrek;1;;;;;;;;;;;;;\n"
"END:VCARD\n").encode('ascii'))

# vCard 3.0 as UTF-16 little-endian with a byte-order mark.
card16 = crlf(
"BEGIN:VCARD\n"
"VERSION:3.0\n"
"N:Wei\u00df;Gr\u00e9goire;;;\n"
"FN:Gr\u00e9goire Wei\u00df\n"
"EMAIL;TYPE=INTERNET:gregoire@example.fr\n"
"TEL;TYPE=HOME:+33 1 23 45 67 89\n"
"END:VCARD\n")
w('utf16le_bom.vcf', b'\xff\xfe' + card16.encode('utf-16-le'))

# The same kind of card as UTF-16 big-endian without a mark, with a CJK street.
w('utf16be_nomark.vcf', crlf(
"BEGIN:VCARD\n"
"VERSION:3.0\n"
"N:;Only a given name;;;\n"
"FN:Only a given name\n"
"ADR;TYPE=WORK,PREF:;;\u4e2d\u5c71\u8def 8;\u4e0a\u6d77;;;\n"
"END:VCARD\n").encode('utf-16-be'))

# vCard 2.1 in Shift_JIS, with CHARSET and without it.
w('shiftjis21.vcf', crlf(
"BEGIN:VCARD\n"
"VERSION:2.1\n"
"N;CHARSET=SHIFT_JIS:\u7530\u4e2d;\u82b1\u5b50;;;\n"
"FN;CHARSET=SHIFT_JIS:\u7530\u4e2d \u82b1\u5b50\n"
"ADR;HOME;CHARSET=SHIFT_JIS:;;\u9280\u5ea7 4-5-6;\u6771\u4eac\u90fd;;104-0061;\n"
"TEL;CELL:090-1234-5678\n"
"END:VCARD\n"
"BEGIN:VCARD\n"
"VERSION:2.1\n"
"N:\u5c71\u7530;\u592a\u90ce;;;\n"
"FN:\u5c71\u7530 \u592a\u90ce\n"
"TEL;HOME:03-5555-0101\n"
"END:VCARD\n").encode('shift_jis'))

# Windows-1252 bytes with no CHARSET anywhere, as old desktop programs wrote them.
w('cp1252_nocharset21.vcf', crlf(
"BEGIN:VCARD\n"
"VERSION:2.1\n"
"N:N\u00fc\u00dflein;S\u00f6ren;;;\n"
"FN:S\u00f6ren N\u00fc\u00dflein\n"
"ORG:Caf\u00e9 \u201eZur Linde\u201c\n"
"NOTE:Rechnung \u00fcber 20 \u20ac\n"
"LABEL;WORK;POSTAL:Bahnhofstra\u00dfe 3\n"
"END:VCARD\n").encode('cp1252'))

# Apple-style vCard 3.0: item groups with X-ABLabel, TYPE repeated, escapes, a
# base64 photo folded at 75 columns.
photo_lines = [photo[i:i+74] for i in range(0, len(photo), 74)]
w('apple30_groups.vcf', crlf(
"BEGIN:VCARD\n"
"VERSION:3.0\n"
"PRODID:-//Example Corp.//Address Book 14.0//EN\n"
"N:Appleseed;Jane;Q.;;\n"
"FN:Jane Q. Appleseed\n"
"ORG:Orchard Ltd.;R&D\n"
"item1.EMAIL;type=INTERNET;type=pref:jane@example.com\n"
"item1.X-ABLabel:_$!<Other>!$_\n"
"EMAIL;type=INTERNET;type=WORK:jane.appleseed@orchard.example\n"
"TEL;type=CELL;type=VOICE;type=pref:(555) 010-2000\n"
"TEL;type=HOME;type=FAX:(555) 010-3000\n"
"item2.ADR;type=HOME;type=pref:;;1 Infinite Loop\\nBuilding 2;Cupertino;CA;95014;USA\n"
"item2.X-ABADR:us\n"
"item3.URL;type=pref:https\\://orchard.example/jane\n"
"item3.X-ABLabel:_$!<HomePage>!$_\n"
"NOTE:Met at the fair\\, row 3\\; table 12.\\nCall after 5.\n"
"PHOTO;ENCODING=b;TYPE=JPEG:" + photo_lines[0] + "\n" + "\n".join(" " + l for l in photo_lines[1:]) + "\n"
"X-ABUID:5C1E2A10-0000-4000-8000-000000000001:ABPerson\n"
"END:VCARD\n").encode('utf-8'))

# vCard 3.0: escapes and folding, continuation lines with a space and a tab,
# a fold inside a multi-byte letter's word, escaped ; in N and ORG.
w('escapes_folding30.vcf', crlf(
"BEGIN:VCARD\n"
"VERSION:3.0\n"
"N:O\\;Brien;Se\u00e1n;;;\n"
"FN:Se\u00e1n O;Brien\n"
"ORG:Smith\\, Jones \\& Partners;Legal\\; Tax\n"
"NOTE:First line\\nsecond line with a backslash \\\\ and a comma \\, and a se\n"
" micolon \\; in the\n"
"\t middle of a folded value\n"
"TITLE:Senior \n"
" Partner\n"
"EMAIL;TYPE=INTERNET,WORK:sean@example.ie\n"
"TEL;TYPE=WORK,VOICE:+353 1 555 0100\n"
"CATEGORIES:Clients,Dublin\\,Ireland\n"
"END:VCARD\n").encode('utf-8'))

# vCard 4.0 (RFC 6350): quoted TYPE lists, tel: URIs, a folded ADR with LABEL,
# properties 3.0 does not have.
w('rfc6350_40.vcf', crlf(
"BEGIN:VCARD\n"
"VERSION:4.0\n"
"KIND:individual\n"
"FN:Ana\u00efs Fontaine\n"
"N:Fontaine;Ana\u00efs;;;ing. jr.,M.Sc.\n"
"GENDER:F\n"
"BDAY:--0415\n"
"ANNIVERSARY:20090808T1430-0500\n"
"LANG;PREF=1;TYPE=work:fr\n"
"ORG;TYPE=work:Laboratoire Lumi\u00e8re\n"
"TEL;VALUE=uri;TYPE=\"work,voice\";PREF=1:tel:+33-1-42-68-53-00;ext=102\n"
"TEL;VALUE=uri;TYPE=\"home,cell,text\":tel:+33-6-12-34-56-78\n"
"EMAIL;TYPE=work:anais.fontaine@lumiere.example\n"
"ADR;TYPE=work;LABEL=\"12 rue de la Paix\\n75002 Paris\\nFrance\":;;12 rue de\n"
"  la Paix;Paris;;75002;France\n"
"GEO:geo:48.8698,2.3310\n"
"IMPP;PREF=1:xmpp:anais@lumiere.example\n"
"URL;TYPE=work:https://lumiere.example/\n"
"END:VCARD\n").encode('utf-8'))

# vCard 2.1 with an AGENT card nested inside, and a 3.0 card whose AGENT is an
# escaped value.
w('agent_nested.vcf', crlf(
"BEGIN:VCARD\n"
"VERSION:2.1\n"
"N:Boss;Big;;;\n"
"FN:Big Boss\n"
"TEL;WORK:+1 555 0100\n"
"AGENT:\n"
"BEGIN:VCARD\n"
"VERSION:2.1\n"
"N:Assistant;Amy;;;\n"
"FN:Amy Assistant\n"
"TEL;WORK:+1 555 0101\n"
"END:VCARD\n"
"EMAIL;INTERNET:boss@example.com\n"
"END:VCARD\n"
"BEGIN:VCARD\n"
"VERSION:3.0\n"
"N:Chief;Carla;;;\n"
"FN:Carla Chief\n"
"AGENT:BEGIN:VCARD\\nFN:Dan Deputy\\nTEL;TYPE=WORK:+1 555 0102\\nEND:VCARD\\n\n"
"TEL;TYPE=WORK:+1 555 0103\n"
"END:VCARD\n").encode('utf-8'))

# A UTF-8 byte-order mark before the first card and another before the second,
# LF-only line ends.
w('utf8_bom_lf.vcf', b'\xef\xbb\xbf' + (
"BEGIN:VCARD\n"
"VERSION:3.0\n"
"N:\u0391\u03b8\u03b1\u03bd\u03b1\u03c3\u03af\u03bf\u03c5;\u0395\u03bb\u03ad\u03bd\u03b7;;;\n"
"FN:\u0395\u03bb\u03ad\u03bd\u03b7 \u0391\u03b8\u03b1\u03bd\u03b1\u03c3\u03af\u03bf\u03c5\n"
"TEL;TYPE=CELL:+30 69 1234 5678\n"
"END:VCARD\n").encode('utf-8') + b'\xef\xbb\xbf' + (
"BEGIN:VCARD\n"
"VERSION:3.0\n"
"N:Nov\u00e1k;Ji\u0159\u00ed;;;\n"
"FN:Ji\u0159\u00ed Nov\u00e1k\n"
"EMAIL:jiri.novak@example.cz\n"
"END:VCARD\n").encode('utf-8'))

# Classic Mac line ends: CR alone.
w('cr_only_lines.vcf', (
"BEGIN:VCARD\r"
"VERSION:3.0\r"
"N:Macintosh;Mary;;;\r"
"FN:Mary Macintosh\r"
"TEL;TYPE=WORK:+1 408 555 0199\r"
"ADR;TYPE=WORK:;;1 Loop Road;Cupertino;CA;95014;\r"
"END:VCARD\r"
"BEGIN:VCARD\r"
"VERSION:3.0\r"
"FN:Second Card\r"
"END:VCARD\r").encode('ascii'))

# A file that holds no card at all.
w('no_card.vcf', b"This file was meant to be a card but holds a note.\r\nFN:Nobody\r\n")

# Five cards with letters beyond ASCII, for the browser tests' import. They stay
# within Latin-1, which the 2.1 export still narrows its text to.
w('five_contacts30.vcf', crlf(
"BEGIN:VCARD\nVERSION:3.0\nN:\u00c5berg;Lars;;;\nFN:Lars \u00c5berg\nEMAIL;TYPE=INTERNET:lars.aberg@example.se\nTEL;TYPE=CELL:+46 70 123 45 67\nEND:VCARD\n"
"BEGIN:VCARD\nVERSION:3.0\nN:S\u00f8rensen;Mette;;;\nFN:Mette S\u00f8rensen\nEMAIL;TYPE=INTERNET:mette@example.dk\nORG:Hudba s.r.o.\nEND:VCARD\n"
"BEGIN:VCARD\nVERSION:3.0\nN:\u00d6zdemir;Emre;;;\nFN:Emre \u00d6zdemir\nTEL;TYPE=WORK:+90 212 555 0101\nEND:VCARD\n"
"BEGIN:VCARD\nVERSION:3.0\nN:Garc\u00eda;Luc\u00eda;;;\nFN:Luc\u00eda Garc\u00eda\nEMAIL;TYPE=INTERNET:lucia.garcia@example.es\nADR;TYPE=HOME:;;Calle Mayor 1;Madrid;;28013;Espa\u00f1a\nEND:VCARD\n"
"BEGIN:VCARD\nVERSION:3.0\nN:C\u00f4t\u00e9;\u00c9lodie Marie;;;\nFN:\u00c9lodie Marie C\u00f4t\u00e9\nTEL;TYPE=HOME:+84 24 3555 0102\nEND:VCARD\n").encode('utf-8'))

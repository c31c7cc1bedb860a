{ The unit's own conversions, without a reader. }
program tests;

{$MODE DELPHI}{$H+}{$CODEPAGE UTF8}

uses
  SysUtils, ridel;

var
  Failures: Integer = 0;

procedure Expect(const What, Got, Expected: UnicodeString);
begin
  if Got = Expected then Exit;
  Writeln(StdErr, 'FAILED: ', UTF8Encode(What), ': got ''', UTF8Encode(Got), ''', expected ''',
    UTF8Encode(Expected), '''');
  Inc(Failures);
end;

function Show(const D: TCardDate): UnicodeString;
begin
  if D.IsDate then Result := 'date:' + D.ToString else Result := 'text:' + D.ToString;
end;

const
  Dates: array[0..5, 0..1] of UnicodeString = (
    ('19880808', 'date:1988-08-08'), ('长期    ', 'text:长期'), ('19880230', 'text:19880230'),
    ('1988080', 'text:1988080'), ('１９８８０８０８', 'text:１９８８０８０８'), ('', 'text:'));
  Lines: array[0..3, 0..2] of UnicodeString = (
    ('1988年08月08日', '2015.01.01-2035.01.01', 'date:1988-08-08 date:2015-01-01 date:2035-01-01'),
    ('1988年08月08日', '2015.01.01-长期  .  .  ', 'date:1988-08-08 date:2015-01-01 text:长期'),
    ('1988年08月', '2015.01.01-2035', 'text:1988年08月 text:2015.01.01-2035 text:2015.01.01-2035'),
    ('1988年02月30日', '2015.01.01-2035.01.01', 'text:19880230 date:2015-01-01 date:2035-01-01'));

  { Bytes in hexadecimal: 长期 is B3A4 C6DA in GBK; 2D is the dash. }
  UndashCases: array[0..6, 0..1] of UnicodeString = (
    ('313938382D30382D3038', '3139383830383038'),   { 1988-08-08 }
    ('B3A4C6DA2D2D', 'B3A4C6DA'),                   { 长期--: dashes appended to a short value }
    ('2D2D', ''),                                   { an empty value }
    ('323033352D302D', '3230333530'),               { five bytes: the second dash at the end }
    ('31B3A4C62DDA2D', '31B3A4C6DA'),               { 1长期: a double-byte character split }
    ('3139383830383038', '3139383830383038'),       { no dashes: as it is }
    ('', ''));

function Hex(const B: TBytes): UnicodeString;
var
  I: Integer;
begin
  Result := '';
  for I := 0 to High(B) do Result := Result + UnicodeString(IntToHex(B[I], 2));
end;

function Unhex(const S: UnicodeString): TBytes;
var
  I: Integer;
begin
  Result := nil;
  SetLength(Result, Length(S) div 2);
  for I := 0 to High(Result) do Result[I] := StrToInt('$' + string(Copy(S, 2 * I + 1, 2)));
end;

type
  TMeaningCase = record Edition: TEdition; Call: string; Code: Integer; Words: string; end;

const
  MeaningCases: array[0..7] of TMeaningCase = (
    (Edition: edSdt; Call: 'ReadBaseInfo'; Code: -8; Words: 'result file'),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Code: -4; Words: 'decoder'),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Code: -11; Words: 'decoder'),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Code: 0; Words: 'unknown read type'),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Code: 65; Words: 'driver''s status'),
    (Edition: edVantrel; Call: 'Read_Content'; Code: 0; Words: 'idcrerror.log'),
    (Edition: edVantrel; Call: 'Read_Content'; Code: -3; Words: 'decoder'),
    (Edition: edQdx; Call: 'InitComm'; Code: 0; Words: 'no reader'));

var
  I: Integer;
  B, F, T: TCardDate;
  Rec: TBytes;
  Codes: UnicodeString = '936';
  Sex, Nation: UnicodeString;
  M: string;
begin
  { Card dates: a date for eight digits that make one, else the card's text. }
  for I := Low(Dates) to High(Dates) do
    Expect('ParseCardDate(' + Dates[I, 0] + ')', Show(ParseCardDate(Dates[I, 0])), Dates[I, 1]);
  { The QDX edition's date lines. }
  for I := Low(Lines) to High(Lines) do
  begin
    QdxDates(Lines[I, 0], Lines[I, 1], B, F, T);
    Expect('QdxDates(' + Lines[I, 0] + ', ' + Lines[I, 1] + ')',
      Show(B) + ' ' + Show(F) + ' ' + Show(T), Lines[I, 2]);
  end;
  { The SDT edition's dashes, taken out of the bytes. }
  for I := Low(UndashCases) to High(UndashCases) do
    Expect('SdtUndash(' + UndashCases[I, 0] + ')', Hex(SdtUndash(Unhex(UndashCases[I, 0]))),
      UndashCases[I, 1]);
  { Codes from the identity record. }
  SetLength(Rec, 256);
  FillChar(Rec[0], 256, 0);
  Move(Codes[1], Rec[30], 6);
  RecordCodes(Rec, Sex, Nation);
  Expect('RecordCodes', Sex + ' ' + Nation, '9 36');
  { Meanings of results. }
  for I := Low(MeaningCases) to High(MeaningCases) do
    with MeaningCases[I] do
    begin
      M := ResultMeaning(Edition, Call, Code);
      if Pos(Words, M) > 0 then M := Words;
      Expect(UnicodeString(Call + ' ' + IntToStr(Code)), UnicodeString(M), UnicodeString(Words));
    end;
  if Failures = 0 then Writeln('pascal unit tests: ok')
  else Writeln('pascal unit tests: ', Failures, ' failed');
  if Failures > 0 then Halt(1);
end.

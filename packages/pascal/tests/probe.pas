{ Reads a card through the unit and prints it for tests/packages/check_packages.py.
    probe EDITION PORT [LIBRARY] }
program probe;

{$MODE DELPHI}{$H+}

uses
  SysUtils, ridel;

function Show(const D: TCardDate): UnicodeString;
begin
  if D.IsDate then Result := 'date:' + D.ToString else Result := 'text:' + D.ToString;
end;

procedure Put(const Key: string; const Value: UnicodeString);
begin
  Writeln(Key, '=', UTF8Encode(Value));
end;

var
  Edition: TEdition;
  Card: TCard;
  Head: string;
  I: Integer;
  Lib: string;
begin
  SetTextCodePage(Output, CP_UTF8);
  if ParamStr(1) = 'qdx' then Edition := edQdx
  else if ParamStr(1) = 'sdt' then Edition := edSdt
  else Edition := edVantrel;
  if ParamCount > 2 then Lib := ParamStr(3) else Lib := '';
  try
    Card := ReadCard(Edition, Lib, StrToInt(ParamStr(2)));
  except
    on E: ECardError do
    begin
      Writeln('error=', E.Step, '|', E.Call, '|', E.Code, '|', E.Meaning);
      Writeln('message=', E.Message);
      Halt(3);
    end;
  end;
  Put('name', Card.Name);
  Put('sex_code', Card.SexCode);
  Put('sex', Card.Sex);
  Put('nation_code', Card.NationCode);
  Put('nation', Card.Nation);
  Put('address', Card.Address);
  Put('id_number', Card.IdNumber);
  Put('authority', Card.Authority);
  Put('sam', Card.Sam);
  Put('birth', Show(Card.Birth));
  Put('valid_from', Show(Card.ValidFrom));
  Put('valid_to', Show(Card.ValidTo));
  if Card.AppendedAddress = '' then Put('appended_address', 'none')
  else Put('appended_address', 'text:' + Card.AppendedAddress);
  Head := '';
  for I := 0 to 29 do
    if I < Length(Card.Photo) then Head := Head + LowerCase(IntToHex(Card.Photo[I], 2));
  Writeln('photo=', Length(Card.Photo), ' ', Head);
end.

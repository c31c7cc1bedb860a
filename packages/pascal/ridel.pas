{ Reading resident identity cards through the ridel editions (QDX, SDT, vantrel), for Delphi and
  Free Pascal: the raw API of every edition, loaded at run time from the library the caller
  chooses, and ReadCard, which gives a TCard of Unicode text, dates, codes and names and the photo
  as the bytes of a BMP file.

  The exports are stdcall on Windows and cdecl on Linux (what the editions' WINAPI is there). The
  editions hand out text in GBK (the ANSI code page of Chinese Windows; always GBK on Linux) and
  write result files beside the process's executable; ReadCard decodes the one and reads, then
  removes, the other, so that no identity data stays on disk. }
unit ridel;

{$IFDEF FPC}{$MODE DELPHI}{$H+}{$ENDIF}

interface

uses
  {$IFDEF FPC}{$IFDEF UNIX}cwstring, BaseUnix,{$ENDIF} dynlibs,{$ENDIF}
  {$IFDEF MSWINDOWS}Windows,{$ENDIF} SysUtils, Classes;

const
  QdxTextRecordBytes = 256;     { QDX_ReadBaseMsg's text record }
  QdxPhotoRecordBytes = 1024;   { QDX_ReadBaseMsg's photo record }
  QdxVersionTextBytes = 40;     { QDX_GetDllVersion's text, zero-padded }
  SdtValueBuffer = 134;         { an SDT getter buffer: every value with its zero byte }
  SdtSamIdBytes = 16;           { GetSamID's raw SAM identity }
  VantrelLongestText = 70;      { the longest vantrel text value, the address }
  VantrelPhotoBmpBytes = 102400; { the largest bitmap of GetPhotoBMP }
  VantrelSamIdTextBytes = 40;   { GetSAMIDToStr's text with its zero byte }
  VantrelManagementInfoBytes = 28; { ReadMngInfo's record }
  VantrelDriverOk = $90;        { the driver's success, handed on by ReadMngInfo and GetSAMIDToStr }
  SdtNoAppendedAddress = $91;   { ReadBaseInfo(3): the driver's status for a card without one }

type
  TEdition = (edQdx, edSdt, edVantrel);

  { The exports' signatures. Paths are zero-terminated bytes in the system's ANSI code page. }
  TNoArgs = function: Integer; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};
  TIntArg = function(Value: Integer): Integer; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};
  TIntIntArgs = function(A, B: Integer): Integer; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};
  TBufferArg = function(Buffer: PAnsiChar): Integer; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};
  TBufferSizeArgs = function(Buffer: PAnsiChar; Size: Integer): Integer; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};
  TIndexBufferSizeArgs = function(Index: Integer; Buffer: PAnsiChar; Size: Integer): Integer; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};
  TPortBufferFlagArgs = function(Port: Integer; Buffer: PAnsiChar; Flag: Integer): Integer; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};
  TBaseMessageArgs = function(Text: PByte; Unused1: Integer; Photo: PByte; Unused2, Unused3: Integer): Integer; {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF};

  { Every export of the QDX edition (ridel_qdx.h): results 1 success, 0 failure. }
  TQdxApi = record
    InitComm, QDX_InitComm, TC_InitComm: TIntArg;
    CloseComm, QDX_CloseComm, TC_CloseComm: TNoArgs;
    Authenticate, QDX_Authenticate, TC_Authenticate: TNoArgs;
    Read_Content, QDX_Read_Content, TC_Read_Content: TIntArg;
    TC_Read_Content_Path: TIntIntArgs;
    QDX_Ant: TIntArg;
    QDX_ReadBaseMsg: TBaseMessageArgs;
    QDX_GetDllVersion: TBufferArg;
  end;

  { Every export of the SDT edition (ridel_sdt.h); the getters write zero-terminated text. }
  TSdtApi = record
    OpenComm, ReadBaseInfo: TIntArg;
    CloseComm, SelectCard: TNoArgs;
    GetSamID: TBufferArg;
    GetAddr, GetBegin, GetName, GetSex, GetFolk, GetIDNum, GetDep, GetBirth, GetEnd,
      GetNewAddr, GetPicPath: TBufferArg;
  end;

  { Every export of the vantrel edition (vantrel.h); the getters do not terminate their text. }
  TVantrelApi = record
    Authenticate, CloseComm: TNoArgs;
    InitComm, Read_Content: TIntArg;
    GetPeopleName, GetPeopleSex, GetPeopleNation, GetPeopleBirthday, GetPeopleAddress,
      GetPeopleIDCode, GetDepartment, GetStartDate, GetEndDate, GetReserve,
      GetPhotoBMP: TBufferSizeArgs;
    GetAppAddress: TIndexBufferSizeArgs;
    SetBaseData, SetPhotoData: TBufferArg;
    SetAppAddress: TBufferSizeArgs;
    ReadMngInfo, GetSAMIDToStr: TPortBufferFlagArgs;
  end;

  { A date of the card, or the card's own text where it holds none (长期, or digits that make
    no date). }
  TCardDate = record
    IsDate: Boolean;
    Date: TDateTime;
    Text: UnicodeString;
    function ToString: UnicodeString;
  end;

  { One card as an edition read it. Sam is the reader's SAM as the edition gives it: QDX its
    number (the fourth group of the SAM ID), SDT its identity's 16 bytes in hexadecimal, vantrel
    the SAM ID text. AppendedAddress is empty when the card has none. }
  TCard = record
    Edition: TEdition;
    Name, SexCode, Sex, NationCode, Nation: UnicodeString;
    Birth: TCardDate;
    Address, IdNumber, Authority: UnicodeString;
    ValidFrom, ValidTo: TCardDate;
    AppendedAddress: UnicodeString;
    Photo: TBytes;
    Sam: UnicodeString;
  end;

  { A failed step of a read: the step, the export, its result and what that means. }
  ECardError = class(Exception)
  public
    Step, Call: string;
    Code: Integer;
    Meaning: string;
    constructor CreateCall(AEdition: TEdition; const AStep, ACall, AArgs: string; ACode: Integer);
  end;

  { A library that cannot be loaded, or lacks an export of its edition. }
  ELibraryError = class(Exception);

{ The file an application loads the edition by: ridel.dll on Windows (the vantrel edition
  deployed under that name too), libridel.so or libvantrel.so on Linux. }
function LibraryFile(Edition: TEdition): string;
{ Load the edition from Path or, when it is empty, LibraryFile through the system's search
  (Windows: the executable's folder first; Linux: LD_LIBRARY_PATH and the system's folders). }
function LoadQdx(const Path: string = ''): TQdxApi;
function LoadSdt(const Path: string = ''): TSdtApi;
function LoadVantrel(const Path: string = ''): TVantrelApi;
{ The folder of the process's executable, where every edition writes its result files. }
function ExecutableFolder: string;

{ Opens the reader on Port, reads the card through Edition (from LibraryPath, or found as the
  Load functions say) and closes the port. Raises ECardError when a call fails, ELibraryError
  when the library cannot be loaded, EInOutError/EFOpenError when a result file is missing. }
function ReadCard(Edition: TEdition = edSdt; const LibraryPath: string = '';
  Port: Integer = 1001): TCard;

{ What Code means as the result of the export Call of Edition. }
function ResultMeaning(Edition: TEdition; const Call: string; Code: Integer): string;
{ A date for eight digits YYYYMMDD that make one, else the text without its padding. }
function ParseCardDate(const EightCharacters: UnicodeString): TCardDate;
{ Birth, validity start and end from the QDX edition's text lines, which split each date's eight
  characters 4/2/2 as YYYY年MM月DD日 and YYYY.MM.DD-YYYY.MM.DD. }
procedure QdxDates(const BirthLine, ValidityLine: UnicodeString; out Birth, ValidFrom,
  ValidTo: TCardDate);
{ A date's bytes as they were on the card, from the SDT edition's form, which inserts '-' at byte 4
  and then at byte 7 (at the end when the value is shorter): 1988-08-08 gives 19880808, 长期--
  gives 长期. A value without those dashes is given back as it is. }
function SdtUndash(const Value: TBytes): TBytes;
{ The sex and nation codes of a 256-byte identity record (UCS-2 at bytes 30 and 32). }
procedure RecordCodes(const Rec: TBytes; out SexCode, NationCode: UnicodeString);

implementation

const
  Decoder = 'the photo decoder failed';
  EditionNames: array[TEdition] of string = ('QDX', 'SDT', 'vantrel');

type
  TMeaning = record Edition: TEdition; Call: string; Low, High: Integer; Text: string; end;

const
  Meanings: array[0..18] of TMeaning = (
    (Edition: edQdx; Call: 'InitComm'; Low: Low(Integer); High: High(Integer); Text: 'no reader on that port, or its SAM is not answering'),
    (Edition: edQdx; Call: 'Authenticate'; Low: Low(Integer); High: High(Integer); Text: 'no card on the reader'),
    (Edition: edQdx; Call: 'QDX_ReadBaseMsg'; Low: Low(Integer); High: High(Integer); Text: 'the card could not be read'),
    (Edition: edQdx; Call: 'Read_Content'; Low: Low(Integer); High: High(Integer); Text: 'the driver refused, a result file could not be written beside the process''s executable, or ' + Decoder),
    (Edition: edSdt; Call: 'OpenComm'; Low: -10; High: -10; Text: 'no reader found (driver status 1)'),
    (Edition: edSdt; Call: 'OpenComm'; Low: Low(Integer); High: High(Integer); Text: 'no reader found (the driver''s status)'),
    (Edition: edSdt; Call: 'SelectCard'; Low: 0; High: 0; Text: 'no card on the reader'),
    (Edition: edSdt; Call: 'SelectCard'; Low: -10; High: -10; Text: 'driver status 1'),
    (Edition: edSdt; Call: 'SelectCard'; Low: Low(Integer); High: High(Integer); Text: 'the card could not be selected (the driver''s status)'),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Low: 0; High: 0; Text: 'unknown read type'),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Low: -8; High: -8; Text: 'a result file cannot be written beside the process''s executable'),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Low: -10; High: -10; Text: 'driver status 1'),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Low: -11; High: -11; Text: Decoder),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Low: -6; High: -1; Text: Decoder + ' (its code)'),
    (Edition: edSdt; Call: 'ReadBaseInfo'; Low: Low(Integer); High: High(Integer); Text: 'the driver''s status'),
    (Edition: edVantrel; Call: 'InitComm'; Low: Low(Integer); High: High(Integer); Text: 'no reader on that port, or its SAM is not answering (idcrerror.log beside the library says why)'),
    (Edition: edVantrel; Call: 'Authenticate'; Low: Low(Integer); High: High(Integer); Text: 'no card on the reader'),
    (Edition: edVantrel; Call: 'Read_Content'; Low: 0; High: 0; Text: 'the driver refused or a result file could not be written beside the process''s executable (idcrerror.log beside the library says why)'),
    (Edition: edVantrel; Call: 'Read_Content'; Low: Low(Integer); High: High(Integer); Text: Decoder + ' (its result)'));
  { GetSamID and GetSAMIDToStr: the SAM could not be read, whatever the result. }
  SamMeaning = 'the SAM''s identity could not be read';

function ResultMeaning(Edition: TEdition; const Call: string; Code: Integer): string;
var
  I: Integer;
begin
  for I := Low(Meanings) to High(Meanings) do
    if (Meanings[I].Edition = Edition) and (Meanings[I].Call = Call) and
       (Code >= Meanings[I].Low) and (Code <= Meanings[I].High) then
      Exit(Meanings[I].Text);
  if (Call = 'GetSamID') or (Call = 'GetSAMIDToStr') then
    Exit(SamMeaning);
  Result := 'failed';
end;

constructor ECardError.CreateCall(AEdition: TEdition; const AStep, ACall, AArgs: string;
  ACode: Integer);
begin
  Step := AStep;
  Call := ACall;
  Code := ACode;
  Meaning := ResultMeaning(AEdition, ACall, ACode);
  inherited Create(Format('%s: %s(%s) returned %d: %s', [Step, Call, AArgs, Code, Meaning]));
end;

function TCardDate.ToString: UnicodeString;
begin
  if IsDate then
    Result := UnicodeString(FormatDateTime('yyyy"-"mm"-"dd', Date))
  else
    Result := Text;
end;

function LibraryFile(Edition: TEdition): string;
begin
  {$IFDEF MSWINDOWS}
  Result := 'ridel.dll';
  {$ELSE}
  if Edition = edVantrel then Result := 'libvantrel.so' else Result := 'libridel.so';
  {$ENDIF}
end;

type
  TBinding = record
    Module: {$IFDEF FPC}TLibHandle{$ELSE}HMODULE{$ENDIF};
    Path: string;
  end;

function Open(Edition: TEdition; const Path: string): TBinding;
begin
  if Path <> '' then Result.Path := Path else Result.Path := LibraryFile(Edition);
  {$IFDEF FPC}
  Result.Module := dynlibs.LoadLibrary(Result.Path);
  if Result.Module = NilHandle then
    raise ELibraryError.Create(Result.Path + ' cannot be loaded: ' + GetLoadErrorStr);
  {$ELSE}
  Result.Module := LoadLibrary(PChar(Result.Path));
  if Result.Module = 0 then
    raise ELibraryError.Create(Result.Path + ' cannot be loaded: ' + SysErrorMessage(GetLastError));
  {$ENDIF}
end;

procedure Bind(const B: TBinding; Edition: TEdition; out Entry; const Name: string);
var
  P: Pointer;
begin
  {$IFDEF FPC}
  P := dynlibs.GetProcedureAddress(B.Module, Name);
  {$ELSE}
  P := GetProcAddress(B.Module, PChar(Name));
  {$ENDIF}
  if P = nil then
    raise ELibraryError.Create(B.Path + ' has no export ' + Name + ': it is not the ' +
      EditionNames[Edition] + ' edition');
  Pointer(Entry) := P;
end;

function LoadQdx(const Path: string): TQdxApi;
var
  B: TBinding;
begin
  B := Open(edQdx, Path);
  with Result do
  begin
    Bind(B, edQdx, InitComm, 'InitComm'); Bind(B, edQdx, QDX_InitComm, 'QDX_InitComm');
    Bind(B, edQdx, TC_InitComm, 'TC_InitComm'); Bind(B, edQdx, CloseComm, 'CloseComm');
    Bind(B, edQdx, QDX_CloseComm, 'QDX_CloseComm'); Bind(B, edQdx, TC_CloseComm, 'TC_CloseComm');
    Bind(B, edQdx, Authenticate, 'Authenticate');
    Bind(B, edQdx, QDX_Authenticate, 'QDX_Authenticate');
    Bind(B, edQdx, TC_Authenticate, 'TC_Authenticate');
    Bind(B, edQdx, Read_Content, 'Read_Content');
    Bind(B, edQdx, QDX_Read_Content, 'QDX_Read_Content');
    Bind(B, edQdx, TC_Read_Content, 'TC_Read_Content');
    Bind(B, edQdx, TC_Read_Content_Path, 'TC_Read_Content_Path');
    Bind(B, edQdx, QDX_Ant, 'QDX_Ant'); Bind(B, edQdx, QDX_ReadBaseMsg, 'QDX_ReadBaseMsg');
    Bind(B, edQdx, QDX_GetDllVersion, 'QDX_GetDllVersion');
  end;
end;

function LoadSdt(const Path: string): TSdtApi;
var
  B: TBinding;
begin
  B := Open(edSdt, Path);
  with Result do
  begin
    Bind(B, edSdt, OpenComm, 'OpenComm'); Bind(B, edSdt, ReadBaseInfo, 'ReadBaseInfo');
    Bind(B, edSdt, CloseComm, 'CloseComm'); Bind(B, edSdt, SelectCard, 'SelectCard');
    Bind(B, edSdt, GetSamID, 'GetSamID'); Bind(B, edSdt, GetAddr, 'GetAddr');
    Bind(B, edSdt, GetBegin, 'GetBegin'); Bind(B, edSdt, GetName, 'GetName');
    Bind(B, edSdt, GetSex, 'GetSex'); Bind(B, edSdt, GetFolk, 'GetFolk');
    Bind(B, edSdt, GetIDNum, 'GetIDNum'); Bind(B, edSdt, GetDep, 'GetDep');
    Bind(B, edSdt, GetBirth, 'GetBirth'); Bind(B, edSdt, GetEnd, 'GetEnd');
    Bind(B, edSdt, GetNewAddr, 'GetNewAddr'); Bind(B, edSdt, GetPicPath, 'GetPicPath');
  end;
end;

function LoadVantrel(const Path: string): TVantrelApi;
var
  B: TBinding;
begin
  B := Open(edVantrel, Path);
  with Result do
  begin
    Bind(B, edVantrel, Authenticate, 'Authenticate'); Bind(B, edVantrel, CloseComm, 'CloseComm');
    Bind(B, edVantrel, InitComm, 'InitComm'); Bind(B, edVantrel, Read_Content, 'Read_Content');
    Bind(B, edVantrel, GetPeopleName, 'GetPeopleName');
    Bind(B, edVantrel, GetPeopleSex, 'GetPeopleSex');
    Bind(B, edVantrel, GetPeopleNation, 'GetPeopleNation');
    Bind(B, edVantrel, GetPeopleBirthday, 'GetPeopleBirthday');
    Bind(B, edVantrel, GetPeopleAddress, 'GetPeopleAddress');
    Bind(B, edVantrel, GetPeopleIDCode, 'GetPeopleIDCode');
    Bind(B, edVantrel, GetDepartment, 'GetDepartment');
    Bind(B, edVantrel, GetStartDate, 'GetStartDate'); Bind(B, edVantrel, GetEndDate, 'GetEndDate');
    Bind(B, edVantrel, GetReserve, 'GetReserve'); Bind(B, edVantrel, GetPhotoBMP, 'GetPhotoBMP');
    Bind(B, edVantrel, GetAppAddress, 'GetAppAddress');
    Bind(B, edVantrel, SetBaseData, 'SetBaseData'); Bind(B, edVantrel, SetPhotoData, 'SetPhotoData');
    Bind(B, edVantrel, SetAppAddress, 'SetAppAddress');
    Bind(B, edVantrel, ReadMngInfo, 'ReadMngInfo');
    Bind(B, edVantrel, GetSAMIDToStr, 'GetSAMIDToStr');
  end;
end;

function ExecutableFolder: string;
{$IFDEF MSWINDOWS}
var
  Name: array[0..32767] of WideChar;
begin
  SetString(Result, PWideChar(@Name[0]), GetModuleFileNameW(0, Name, Length(Name)));
  Result := ExtractFileDir(Result);
end;
{$ELSE}
begin
  Result := ExtractFileDir(fpReadLink('/proc/self/exe'));
end;
{$ENDIF}

{ ---- Conversions ------------------------------------------------------------------------- }

function Gbk(const Bytes: TBytes; Count: Integer): UnicodeString;
var
  Raw: RawByteString;
begin
  if Count <= 0 then Exit('');
  SetString(Raw, PAnsiChar(@Bytes[0]), Count);
  SetCodePage(Raw, 936, False);
  Result := UnicodeString(Raw);
end;

function Ucs2(const Bytes: TBytes; Offset, Count: Integer): UnicodeString;
begin
  Result := '';
  if Offset + Count > Length(Bytes) then Count := Length(Bytes) - Offset;
  if Count < 2 then Exit('');
  SetLength(Result, Count div 2);
  Move(Bytes[Offset], Result[1], (Count div 2) * 2);
end;

function TrimPadding(const S: UnicodeString): UnicodeString;
var
  First, Last: Integer;
begin
  First := 1;
  Last := Length(S);
  while (Last >= First) and ((S[Last] = ' ') or (S[Last] = #0)) do Dec(Last);
  while (First <= Last) and ((S[First] = ' ') or (S[First] = #0)) do Inc(First);
  Result := Copy(S, First, Last - First + 1);
end;

function TrimEnd(const S: UnicodeString): UnicodeString;
var
  Last: Integer;
begin
  Last := Length(S);
  while (Last > 0) and (S[Last] <= ' ') do Dec(Last);
  Result := Copy(S, 1, Last);
end;

function ParseCardDate(const EightCharacters: UnicodeString): TCardDate;
var
  T: UnicodeString;
  I: Integer;
  Digits: Boolean;
begin
  T := TrimPadding(EightCharacters);
  Digits := Length(T) = 8;
  for I := 1 to Length(T) do
    Digits := Digits and (T[I] >= '0') and (T[I] <= '9');
  Result.IsDate := Digits and TryEncodeDate(StrToInt(string(Copy(T, 1, 4))),
    StrToInt(string(Copy(T, 5, 2))), StrToInt(string(Copy(T, 7, 2))), Result.Date);
  if Result.IsDate then Result.Text := '' else Result.Text := T;
end;

function SplitDate(const Line: UnicodeString; At: Integer; const Marks: UnicodeString;
  Len: Integer; out Eight: UnicodeString): Boolean;
begin
  Result := (Length(Line) = Len) and (Line[At + 5] = Marks[1]) and (Line[At + 8] = Marks[2]) and
    ((Length(Marks) < 3) or (Line[At + 11] = Marks[3]));
  if Result then
    Eight := Copy(Line, At + 1, 4) + Copy(Line, At + 6, 2) + Copy(Line, At + 9, 2);
end;

procedure QdxDates(const BirthLine, ValidityLine: UnicodeString; out Birth, ValidFrom,
  ValidTo: TCardDate);
const
  YearMonthDay = #$5E74#$6708#$65E5; { the marks after year, month and day; the source stays ASCII }
var
  Eight: UnicodeString;
begin
  if SplitDate(BirthLine, 0, YearMonthDay, 11, Eight) then Birth := ParseCardDate(Eight)
  else Birth := ParseCardDate(BirthLine);
  if SplitDate(ValidityLine, 0, '..-', 21, Eight) then
  begin
    ValidFrom := ParseCardDate(Eight);
    SplitDate(ValidityLine, 11, '..', 21, Eight);
    ValidTo := ParseCardDate(Eight);
  end
  else
  begin
    ValidFrom := ParseCardDate(ValidityLine);
    ValidTo := ValidFrom;
  end;
end;

procedure RecordCodes(const Rec: TBytes; out SexCode, NationCode: UnicodeString);
begin
  if Length(Rec) < 36 then
    raise EInOutError.CreateFmt('an identity record of %d bytes, 256 expected', [Length(Rec)]);
  SexCode := TrimPadding(Ucs2(Rec, 30, 2));
  NationCode := TrimPadding(Ucs2(Rec, 32, 4));
end;

{ ---- Reading ----------------------------------------------------------------------------- }

function ReadFileBytes(const Path: string): TBytes;
var
  F: TFileStream;
begin
  Result := nil;
  F := TFileStream.Create(Path, fmOpenRead or fmShareDenyWrite);
  try
    SetLength(Result, F.Size);
    if F.Size > 0 then F.ReadBuffer(Result[0], F.Size);
  finally
    F.Free;
  end;
end;

procedure Check(Edition: TEdition; const Step, Call: string; Got: Integer; const Args: string;
  Ok: Integer = 1);
begin
  if Got <> Ok then
    raise ECardError.CreateCall(Edition, Step, Call, Args, Got);
end;

{ The QDX edition's SAM-named text files in Folder, with their modification times. }
function NumberedStems(const Folder: string): TStringList;
var
  S: TSearchRec;
  Stem: string;
  I: Integer;
  Numeric: Boolean;
begin
  Result := TStringList.Create;
  if FindFirst(IncludeTrailingPathDelimiter(Folder) + '*.txt', faAnyFile, S) = 0 then
  try
    repeat
      Stem := ChangeFileExt(S.Name, '');
      Numeric := Stem <> '';
      for I := 1 to Length(Stem) do
        Numeric := Numeric and (((Stem[I] >= '0') and (Stem[I] <= '9')) or ((I = 1) and (Stem[I] = '-')));
      if Numeric and (ExtractFileExt(S.Name) = '.txt') then
        Result.Values[Stem] := IntToStr(FileAge(IncludeTrailingPathDelimiter(Folder) + S.Name));
    until FindNext(S) <> 0;
  finally
    FindClose(S);
  end;
end;

{ The SAM-named text file that a read in mode 6 wrote: new or changed since Before; the newest
  when there are several. }
function NewStem(const Folder: string; Before: TStringList): string;
var
  After: TStringList;
  I: Integer;
  Newest: Int64;
begin
  Result := '';
  Newest := Low(Int64);
  After := NumberedStems(Folder);
  try
    for I := 0 to After.Count - 1 do
      if (Before.Values[After.Names[I]] <> After.ValueFromIndex[I]) and
         (StrToInt64(After.ValueFromIndex[I]) >= Newest) then
      begin
        Result := After.Names[I];
        Newest := StrToInt64(After.ValueFromIndex[I]);
      end;
  finally
    After.Free;
  end;
end;

function ReadQdx(const Path: string; Port: Integer; const Folder: string; Written: TStrings): TCard;
var
  Api: TQdxApi;
  Rec, PhotoRec, Message: TBytes;
  Before: TStringList;
  Sam: string;
  L: array of UnicodeString;
  Text: UnicodeString;
  I, Start, Got: Integer;
begin
  Api := LoadQdx(Path);
  Check(edQdx, 'open', 'InitComm', Api.InitComm(Port), IntToStr(Port));
  try
    Check(edQdx, 'authenticate', 'Authenticate', Api.Authenticate(), '');
    SetLength(Rec, QdxTextRecordBytes);
    SetLength(PhotoRec, QdxPhotoRecordBytes);
    Check(edQdx, 'read', 'QDX_ReadBaseMsg', Api.QDX_ReadBaseMsg(@Rec[0], 0, @PhotoRec[0], 0, 0), '');
    RecordCodes(Rec, Result.SexCode, Result.NationCode);
    { Mode 6: the text lines and the photo, in files named after the reader's SAM number. They
      are found (and removed) also when the read fails half-way. }
    Before := NumberedStems(Folder);
    try
      Got := Api.Read_Content(6);
      Sam := NewStem(Folder, Before);
    finally
      Before.Free;
    end;
    if Sam <> '' then
    begin
      Written.Add(Sam + '.txt'); Written.Add(Sam + '.wlt'); Written.Add(Sam + '.bmp');
    end;
    Check(edQdx, 'read', 'Read_Content', Got, '6');
    if Sam = '' then
      raise EInOutError.Create('no text file named after the SAM number in ' + Folder);
    Message := ReadFileBytes(IncludeTrailingPathDelimiter(Folder) + Sam + '.txt');
    Text := Gbk(Message, Length(Message));
    SetLength(L, 0);
    Start := 1;
    for I := 1 to Length(Text) - 1 do
      if (Text[I] = #13) and (Text[I + 1] = #10) then
      begin
        SetLength(L, Length(L) + 1);
        L[High(L)] := Copy(Text, Start, I - Start);
        Start := I + 2;
      end;
    if Length(L) < 8 then
      raise EInOutError.CreateFmt('%s.txt holds %d lines, 8 expected', [Sam, Length(L)]);
    Result.Photo := ReadFileBytes(IncludeTrailingPathDelimiter(Folder) + Sam + '.bmp');
    Written.Add('NEWADDR.txt');
    Check(edQdx, 'appended address', 'Read_Content', Api.Read_Content(3), '3');
    Message := ReadFileBytes(IncludeTrailingPathDelimiter(Folder) + 'NEWADDR.txt');
    Result.AppendedAddress := TrimPadding(Ucs2(Message, 0, 70));
    Result.Edition := edQdx;
    Result.Name := TrimEnd(L[0]);
    Result.Sex := L[1];
    Result.Nation := L[2];
    Result.Address := TrimEnd(L[4]);
    Result.IdNumber := TrimEnd(L[5]);
    Result.Authority := TrimEnd(L[6]);
    QdxDates(L[3], L[7], Result.Birth, Result.ValidFrom, Result.ValidTo);
    Result.Sam := UnicodeString(Sam);
  finally
    Api.CloseComm();
  end;
end;

function SdtUndash(const Value: TBytes): TBytes;
var
  Len, First, Second: Integer;
begin
  Len := Length(Value) - 2;
  First := Len;
  if First > 4 then First := 4;
  Second := Len + 1;
  if Second > 7 then Second := 7;
  if (Len < 0) or (Value[First] <> Ord('-')) or (Value[Second] <> Ord('-')) then
    Exit(Copy(Value, 0, Length(Value)));
  Result := Copy(Value, 0, First);
  SetLength(Result, Len);
  if Second - First - 1 > 0 then Move(Value[First + 1], Result[First], Second - First - 1);
  if Length(Value) - Second - 1 > 0 then
    Move(Value[Second + 1], Result[Second - 1], Length(Value) - Second - 1);
end;

function ReadSdt(const Path: string; Port: Integer; const Folder: string; Written: TStrings): TCard;
const
  Files: array[0..6] of string = ('wx.txt', 'wz.txt', 'zp.wlt', 'pic.wlt', 'zp.bmp', 'NewAdd.txt', 'NewAdd1.txt');
var
  Api: TSdtApi;
  Buffer, Sam: TBytes;
  I, Got: Integer;

  function Value(Getter: TBufferArg): UnicodeString;
  begin
    Result := Gbk(Buffer, Getter(PAnsiChar(@Buffer[0])));
  end;

  function Date(Getter: TBufferArg): TCardDate;
  var
    Card: TBytes;
  begin
    Card := SdtUndash(Copy(Buffer, 0, Getter(PAnsiChar(@Buffer[0]))));
    Result := ParseCardDate(Gbk(Card, Length(Card)));
  end;

begin
  Api := LoadSdt(Path);
  Check(edSdt, 'open', 'OpenComm', Api.OpenComm(Port), IntToStr(Port));
  try
    Check(edSdt, 'select', 'SelectCard', Api.SelectCard(), '');
    for I := Low(Files) to High(Files) do Written.Add(Files[I]);
    Check(edSdt, 'read', 'ReadBaseInfo', Api.ReadBaseInfo(1), '1');
    SetLength(Buffer, SdtValueBuffer);
    Result.Edition := edSdt;
    Result.Name := Value(Api.GetName);
    Result.Sex := Value(Api.GetSex);
    Result.Nation := Value(Api.GetFolk);
    Result.Birth := Date(Api.GetBirth);
    Result.Address := Value(Api.GetAddr);
    Result.IdNumber := Value(Api.GetIDNum);
    Result.Authority := Value(Api.GetDep);
    Result.ValidFrom := Date(Api.GetBegin);
    Result.ValidTo := Date(Api.GetEnd);
    RecordCodes(ReadFileBytes(IncludeTrailingPathDelimiter(Folder) + 'wz.txt'), Result.SexCode,
      Result.NationCode);
    Result.Photo := ReadFileBytes(IncludeTrailingPathDelimiter(Folder) + 'zp.bmp');
    { The driver's $91 is a card without an appended address. }
    Got := Api.ReadBaseInfo(3);
    Result.AppendedAddress := '';
    if Got <> SdtNoAppendedAddress then
    begin
      Check(edSdt, 'appended address', 'ReadBaseInfo', Got, '3');
      Result.AppendedAddress := Value(Api.GetNewAddr);
    end;
    SetLength(Sam, SdtSamIdBytes);
    Check(edSdt, 'sam', 'GetSamID', Api.GetSamID(PAnsiChar(@Sam[0])), '');
    Result.Sam := '';
    for I := 0 to High(Sam) do Result.Sam := Result.Sam + UnicodeString(IntToHex(Sam[I], 2));
  finally
    Api.CloseComm();
  end;
end;

function ReadVantrel(const Path: string; Port: Integer; const Folder: string; Written: TStrings): TCard;
const
  Files: array[0..3] of string = ('WZ.txt', 'XP.wlt', 'ZP.wlt', 'ZP.bmp');
var
  Api: TVantrelApi;
  Buffer, Bitmap, Sam: TBytes;
  I, Count: Integer;

  { The getters do not terminate their text: the result is its length. }
  function Value(Getter: TBufferSizeArgs): UnicodeString;
  begin
    Result := TrimEnd(Gbk(Buffer, Getter(PAnsiChar(@Buffer[0]), Length(Buffer))));
  end;

begin
  Api := LoadVantrel(Path);
  Check(edVantrel, 'open', 'InitComm', Api.InitComm(Port), IntToStr(Port));
  try
    Check(edVantrel, 'authenticate', 'Authenticate', Api.Authenticate(), '');
    for I := Low(Files) to High(Files) do Written.Add(Files[I]);
    Check(edVantrel, 'read', 'Read_Content', Api.Read_Content(1), '1');
    SetLength(Buffer, VantrelLongestText + 1);
    Result.Edition := edVantrel;
    Result.Name := Value(Api.GetPeopleName);
    Result.Sex := Value(Api.GetPeopleSex);
    Result.Nation := Value(Api.GetPeopleNation);
    Result.Birth := ParseCardDate(Value(Api.GetPeopleBirthday));
    Result.Address := Value(Api.GetPeopleAddress);
    Result.IdNumber := Value(Api.GetPeopleIDCode);
    Result.Authority := Value(Api.GetDepartment);
    Result.ValidFrom := ParseCardDate(Value(Api.GetStartDate));
    Result.ValidTo := ParseCardDate(Value(Api.GetEndDate));
    Result.AppendedAddress := TrimEnd(Gbk(Buffer,
      Api.GetAppAddress(1, PAnsiChar(@Buffer[0]), Length(Buffer))));
    SetLength(Bitmap, VantrelPhotoBmpBytes);
    Count := Api.GetPhotoBMP(PAnsiChar(@Bitmap[0]), Length(Bitmap));
    if Count <= 0 then
      raise EInOutError.Create('GetPhotoBMP gave no bitmap after a successful read');
    Result.Photo := Copy(Bitmap, 0, Count);
    RecordCodes(ReadFileBytes(IncludeTrailingPathDelimiter(Folder) + 'WZ.txt'), Result.SexCode,
      Result.NationCode);
    SetLength(Sam, VantrelSamIdTextBytes + 1);
    FillChar(Sam[0], Length(Sam), 0);
    Check(edVantrel, 'sam', 'GetSAMIDToStr', Api.GetSAMIDToStr(Port, PAnsiChar(@Sam[0]), 0),
      IntToStr(Port) + ', 0', VantrelDriverOk);
    Result.Sam := UnicodeString(AnsiString(PAnsiChar(@Sam[0])));
  finally
    Api.CloseComm();
  end;
end;

function ReadCard(Edition: TEdition; const LibraryPath: string; Port: Integer): TCard;
var
  Folder: string;
  Written: TStringList;
  I: Integer;
begin
  Folder := ExecutableFolder;
  Written := TStringList.Create;
  try
    case Edition of
      edQdx: Result := ReadQdx(LibraryPath, Port, Folder, Written);
      edSdt: Result := ReadSdt(LibraryPath, Port, Folder, Written);
    else
      Result := ReadVantrel(LibraryPath, Port, Folder, Written);
    end;
  finally
    for I := 0 to Written.Count - 1 do
      SysUtils.DeleteFile(IncludeTrailingPathDelimiter(Folder) + Written[I]);
    Written.Free;
  end;
end;

end.

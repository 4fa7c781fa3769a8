// The application's string table: every library text by its numeric identifier, in one place.
#pragma once

#include <string>

enum StringId : int {
  // Socket client and time counter
  sOperationTimedOut = 57000,
  sOperationCanceled = 57001,
  sServerRequired = 57002,
  sInvalidWinsockVersion = 57003,
  sErrorResolvingHost = 57004,
  sServiceNameRequired = 57005,
  sReplyLineTooLong = 57006,
  sConnectFirst = 57008,
  sReplyTooLong = 57009,
  // Socket function binding
  sFunctionNotFound = 57010,
  sWinsockNotLoaded = 57011,
  sWinsockNotFound = 57012,
  // A server written as host and port
  sNotAServer = 57020,
  sServerHostMissing = 57021,
  sServerHostCharacters = 57022,
  sServerPortRange = 57023,
  sServerIPv6NeedsBrackets = 57024,
  sServerBracketsNotIPv6 = 57025,
  // Messages
  sSenderRequired = 57100,
  sRecipientRequired = 57101,
  sMailMessageRequired = 57102,
  sNewsgroupRequired = 57103,
  sSubjectRequired = 57104,
  sAddressNotAscii = 57105,
  sBodyNotUtf8 = 57106,
  // SMTP client
  sNoServerReply = 57110,
  sControlInHostName = 57112,
  sStartTlsNotOffered = 57113,
  sStartTlsRefused = 57114,
  sEhloRefusedSecure = 57115,
  sLoginInClear = 57116,
  sLoginRefused = 57117,
  sNoPassword = 57118,
  sNoTokenSource = 57119,
  sMessageTooLarge = 57121,
  sPossibleDuplicate = 57122,
  sReconnecting = 57123,
  sNoReplyToText = 57124,
  // Addresses and codecs
  sUnableToParseAddress = 57200,
  sInvalidCharacter = 57201,
  sInvalidPropertyValue = 57210,
  sInvalidTransferEncoding = 57211,
  // Parser
  sUnableToRetrieveHeaders = 57300,
  sCannotFindBoundary = 57301,
  sCannotFindClosingBoundary = 57302,
  sErrorDecodingAttachment = 57303,
  sParserErrorNote = 57304,
  sOriginalStoredNote = 57305,
  // Dial-up
  sRasNotDetected = 57400,
  sRasSetBeforeConnect = 57401,
  sRasInvalidService = 57402,
  sRasErrorNo = 57403,
  // What a failure concerns: the server, and the recipient it refused
  sCannotConnect = 57404,
  sConnectionLost = 57405,
  sTlsFailed = 57406,
  sSessionRefused = 57407,
  sMessageRefused = 57408,
  sRecipientRefused = 57409,
  sLoginFailed = 57410,
  // What is wrong with a mail address
  sNotAMailAddress = 57500,
  sAddressEmpty = 57501,
  sAddressHoldsNonAscii = 57502,
  sAddressHoldsControl = 57503,
  sAddressHoldsBlank = 57504,
  sAddressHoldsComma = 57505,
  sAddressHoldsBracket = 57506,
  sAddressTooLong = 57507,
  sAddressWithoutAt = 57508,
  sAddressWithTwoAts = 57509,
  sLocalPartEmpty = 57510,
  sLocalPartDots = 57512,
  sLocalPartNeedsQuotes = 57513,
  sLocalPartQuoteOpen = 57514,
  sDomainEmpty = 57515,
  sDomainEmptyLabel = 57516,
  sDomainLabelTooLong = 57517,
  sDomainLabelHyphen = 57518,
  sDomainCharacter = 57519,
  sDomainLiteral = 57520,
};

// The text with that identifier, or the empty text when there is none.
std::string LoadStr(int id);

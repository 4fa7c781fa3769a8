#include "toolkit/strtable.h"

#include <unordered_map>

std::string LoadStr(int id) {
  static const std::unordered_map<int, const char*> kTable = {
      {sOperationTimedOut, "Operation timed out"},
      {sOperationCanceled, "Operation has been canceled"},
      {sServerRequired, "Server property is required"},
      {sInvalidWinsockVersion, "Invalid Winsock version"},
      {sErrorResolvingHost, "Error resolving remote host"},
      {sServiceNameRequired, "Service name is required"},
      {sReplyLineTooLong, "The server sent a line longer than 65536 bytes"},
      {sConnectFirst, "You have to connect to the server first"},
      {sFunctionNotFound, "Function %s not found"},
      {sWinsockNotLoaded, "Winsock is not loaded"},
      {sWinsockNotFound, "Winsock not found"},
      {sSenderRequired, "The address of sender is required"},
      {sRecipientRequired, "At least one Recipient, CC or BCC must be entered"},
      {sMailMessageRequired, "MailMessage property must be assigned"},
      {sNewsgroupRequired, "Newsgroup header is required"},
      {sAddressNotAscii, "The address %s holds characters other than ASCII"},
      {sSubjectRequired, "Subject header is required"},
      {sNoServerReply, "No reply from the server"},
      {sControlInAddress, "The address %s holds a line break or another control character"},
      {sControlInHostName, "The host name %s holds a line break or another control character"},
      {sStartTlsNotOffered, "The server %s does not offer STARTTLS; the connection must be encrypted, so nothing was sent"},
      {sStartTlsRefused, "The server %s refused STARTTLS: %s"},
      {sEhloRefusedSecure, "The server %s refused EHLO (%s); without it the connection can be neither encrypted nor logged in"},
      {sLoginInClear, "Refusing to log in to %s without TLS: with the security setting None a login goes only to a server on this machine"},
      {sLoginRefused, "The server %s refused the login: %s"},
      {sNoPassword, "No password for %s at %s"},
      {sNoTokenSource, "Logging in to %s with XOAUTH2 needs a token command"},
      {sBracketInAddress, "The address %s holds an angle bracket, which would end its SMTP path early"},
      {sUnableToParseAddress, "Unable to parse email address"},
      {sInvalidCharacter, "Invalid Character"},
      {sInvalidPropertyValue, "Invalid value of property %s"},
      {sInvalidTransferEncoding, "Invalid transfer encoding %d"},
      {sUnableToRetrieveHeaders, "Unable to retrieve headers"},
      {sCannotFindBoundary, "Cannot find boundary"},
      {sCannotFindClosingBoundary, "Cannot find closing boundary"},
      {sErrorDecodingAttachment, "Error decoding the attachment"},
      {sParserErrorNote, "The following error has been occured while processing the message:"},
      {sOriginalStoredNote, "The original message will be stored as an attachment"},
      {sRasNotDetected, "TnkRas component was unable to detect\rRAS on your system."},
      {sRasSetBeforeConnect, "This property can be set only before\restablishing the connection"},
      {sRasInvalidService, "Invalid service name"},
      {sRasErrorNo, "RAS error no "},
  };
  auto it = kTable.find(id);
  return it == kTable.end() ? std::string() : std::string(it->second);
}

function refuse_reading(message)
%REFUSE_READING  Raises the error of a file the program could not read:
%   drel:read:cannotRead for a file that cannot be read (no such file, a
%   folder), drel:read:notProtocol for bytes that are no protocol file, or a
%   truncated or damaged one; MESSAGE is the program's own.
message = strtrim(message);
if ~isempty(strfind(message, 'cannot be read: '))
    error('drel:read:cannotRead', '%s', message);
end
error('drel:read:notProtocol', '%s', message);
end

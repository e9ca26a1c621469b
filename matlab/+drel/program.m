function path = program()
%DREL.PROGRAM  The drel program that the toolbox calls.
%   PATH = DREL.PROGRAM() is the DREL environment variable, when it is set,
%   else the drel (drel.exe on Windows) that the system's PATH finds.
%   Raises drel:program:notFound when there is neither.
%
%   The toolbox runs the program for every call: drel.read, drel.compose,
%   drel.check, drel.diff and drel.plot.
path = getenv('DREL');
if ~isempty(path)
    if exist(path, 'file') ~= 2
        error('drel:program:notFound', ...
              'DREL names %s, which is no file: set it to the full path of the drel program', path);
    end
    return;
end
if ispc
    [status, found] = system('where drel.exe 2>NUL');
else
    [status, found] = system('command -v drel 2>/dev/null');
end
lines = regexp(strtrim(found), '[\r\n]+', 'split');
if status ~= 0 || isempty(lines{1})
    error('drel:program:notFound', ...
          ['no drel program: put drel on the PATH, or set the DREL environment variable to its full path ' ...
           '(setenv(''DREL'', ''/path/to/drel''))']);
end
path = lines{1};
end
